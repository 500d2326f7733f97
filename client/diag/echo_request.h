// The latency check's ICMP echo request and the test of an answer's sender.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

const size_t kEchoRequestBytes = 64;

// RFC 1071 checksum of the bytes, as the 16-bit value to store big-endian.
uint16_t InternetChecksum(const uint8_t* data, size_t length);

// Type 8, code 0, identifier and sequence in network byte order, "0123456789" repeated as
// the data, checksum over all 64 bytes.
void BuildEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence);

// True when a received IPv4 packet (header included) comes from the address, given in
// network byte order as it stands in memory. Too short a packet comes from nobody.
bool PacketFromAddress(const uint8_t* packet, size_t length, uint32_t address);

// Reads a received IPv4 packet (header included) as an echo reply: type 0, code 0, from the
// address (network byte order as in memory) and carrying the identifier. The reply's
// sequence number goes to *sequence. Anything else, or too short a packet, gives false.
bool ReadEchoReply(const uint8_t* packet, size_t length, uint32_t address, uint16_t identifier,
                   uint16_t* sequence);

// One check of several lines at once: kEchoProbes echo requests to each, the n-th of every
// line leaving n * kEchoIntervalMs after the start (the lines' probes interleaved), each
// answer awaited at most kEchoWaitMs. Times are milliseconds of any clock that does not go
// back; the caller sends, receives and tells the round what happened when.
const int kEchoProbes = 4;
const uint32_t kEchoIntervalMs = 250;
const uint32_t kEchoWaitMs = 1000;

struct EchoFigure {
  int answered = 0;  // 0 .. kEchoProbes
  int medianMs = 0;  // of the answers; 0 when none came
  int LossPercent() const { return (kEchoProbes - answered) * 100 / kEchoProbes; }
};

class CEchoRound {
 public:
  // Each target's probes carry the sequence numbers firstSequence + target * kEchoProbes + n.
  CEchoRound(const std::vector<uint32_t>& addresses, uint16_t identifier, uint16_t firstSequence,
             uint32_t startMs);

  // The probe to send now, if one is due: its target and sequence number. The probe counts
  // as sent at nowMs; a probe that could not be sent is told by Unsent.
  bool NextDue(uint32_t nowMs, size_t* target, uint16_t* sequence);
  void Unsent(size_t target, uint16_t sequence);
  // A received packet: true when it answered a probe of this round still within its wait.
  bool Receive(const uint8_t* packet, size_t length, uint32_t nowMs);
  // How long to wait for packets before something is due: a send or a wait's end.
  uint32_t WaitMs(uint32_t nowMs) const;
  // A target whose probes were all sent and each answered or given up on.
  bool Finished(size_t target, uint32_t nowMs) const;
  bool AllFinished(uint32_t nowMs) const;
  EchoFigure Figure(size_t target) const;
  size_t Targets() const { return targets_.size(); }

 private:
  struct Probe {
    enum State { kWaiting, kOut, kAnswered, kLost } state = kWaiting;
    uint32_t sentMs = 0;
    uint32_t rttMs = 0;
  };
  struct Target {
    uint32_t address;
    Probe probes[kEchoProbes];
  };
  bool Expired(const Probe& probe, uint32_t nowMs) const;

  std::vector<Target> targets_;
  uint16_t identifier_;
  uint16_t firstSequence_;
  uint32_t startMs_;
};
