#include "client/diag/echo_request.h"

#include <algorithm>
#include <cstring>

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2) sum += static_cast<uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

void BuildEchoRequest(uint8_t* packet, uint16_t identifier, uint16_t sequence) {
  std::memset(packet, 0, kEchoRequestBytes);
  packet[0] = 8;  // echo request
  packet[1] = 0;
  packet[4] = static_cast<uint8_t>(identifier >> 8);
  packet[5] = static_cast<uint8_t>(identifier);
  packet[6] = static_cast<uint8_t>(sequence >> 8);
  packet[7] = static_cast<uint8_t>(sequence);
  for (size_t i = 8; i < kEchoRequestBytes; ++i) packet[i] = static_cast<uint8_t>('0' + (i - 8) % 10);
  uint16_t sum = InternetChecksum(packet, kEchoRequestBytes);
  packet[2] = static_cast<uint8_t>(sum >> 8);
  packet[3] = static_cast<uint8_t>(sum);
}

bool PacketFromAddress(const uint8_t* packet, size_t length, uint32_t address) {
  if (length < 16) return false;
  return std::memcmp(packet + 12, &address, 4) == 0;
}

bool ReadEchoReply(const uint8_t* packet, size_t length, uint32_t address, uint16_t identifier,
                   uint16_t* sequence) {
  if (length < 20 || (packet[0] >> 4) != 4) return false;
  size_t ihl = static_cast<size_t>(packet[0] & 0x0F) * 4;
  if (ihl < 20 || length < ihl + 8) return false;
  if (packet[9] != 1 || !PacketFromAddress(packet, length, address)) return false;
  const uint8_t* icmp = packet + ihl;
  if (icmp[0] != 0 || icmp[1] != 0) return false;
  if ((icmp[4] << 8 | icmp[5]) != identifier) return false;
  *sequence = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
  return true;
}

CEchoRound::CEchoRound(const std::vector<uint32_t>& addresses, uint16_t identifier,
                       uint16_t firstSequence, uint32_t startMs)
    : identifier_(identifier), firstSequence_(firstSequence), startMs_(startMs) {
  for (uint32_t address : addresses) {
    Target t;
    t.address = address;
    targets_.push_back(t);
  }
}

bool CEchoRound::Expired(const Probe& probe, uint32_t nowMs) const {
  return probe.state == Probe::kOut && nowMs - probe.sentMs >= kEchoWaitMs;
}

bool CEchoRound::NextDue(uint32_t nowMs, size_t* target, uint16_t* sequence) {
  uint32_t since = nowMs - startMs_;
  for (int n = 0; n < kEchoProbes; ++n) {
    if (since < n * kEchoIntervalMs) return false;
    for (size_t i = 0; i < targets_.size(); ++i) {
      Probe& p = targets_[i].probes[n];
      if (p.state != Probe::kWaiting) continue;
      p.state = Probe::kOut;
      p.sentMs = nowMs;
      *target = i;
      *sequence = static_cast<uint16_t>(firstSequence_ + i * kEchoProbes + n);
      return true;
    }
  }
  return false;
}

void CEchoRound::Unsent(size_t target, uint16_t sequence) {
  if (target >= targets_.size()) return;
  int n = static_cast<uint16_t>(sequence - firstSequence_ - target * kEchoProbes);
  if (n >= 0 && n < kEchoProbes) targets_[target].probes[n].state = Probe::kLost;
}

bool CEchoRound::Receive(const uint8_t* packet, size_t length, uint32_t nowMs) {
  for (size_t i = 0; i < targets_.size(); ++i) {
    uint16_t sequence;
    if (!ReadEchoReply(packet, length, targets_[i].address, identifier_, &sequence)) continue;
    int n = static_cast<uint16_t>(sequence - firstSequence_ - i * kEchoProbes);
    if (n < 0 || n >= kEchoProbes) continue;  // another line's of the same host, or stale
    Probe& p = targets_[i].probes[n];
    // A duplicate, or an answer after its wait ended: the probe stays as it was.
    if (p.state != Probe::kOut || Expired(p, nowMs)) continue;
    p.state = Probe::kAnswered;
    p.rttMs = nowMs - p.sentMs;
    return true;
  }
  return false;
}

uint32_t CEchoRound::WaitMs(uint32_t nowMs) const {
  uint32_t since = nowMs - startMs_;
  uint32_t wait = kEchoWaitMs;
  for (const Target& t : targets_) {
    for (int n = 0; n < kEchoProbes; ++n) {
      const Probe& p = t.probes[n];
      uint32_t left = kEchoWaitMs;
      if (p.state == Probe::kWaiting) {
        left = n * kEchoIntervalMs > since ? n * kEchoIntervalMs - since : 0;
      } else if (p.state == Probe::kOut) {
        uint32_t waited = nowMs - p.sentMs;
        left = waited < kEchoWaitMs ? kEchoWaitMs - waited : 0;
      }
      if (left < wait) wait = left;
    }
  }
  return wait;
}

bool CEchoRound::Finished(size_t target, uint32_t nowMs) const {
  for (const Probe& p : targets_[target].probes) {
    if (p.state == Probe::kWaiting || (p.state == Probe::kOut && !Expired(p, nowMs))) return false;
  }
  return true;
}

bool CEchoRound::AllFinished(uint32_t nowMs) const {
  for (size_t i = 0; i < targets_.size(); ++i) {
    if (!Finished(i, nowMs)) return false;
  }
  return true;
}

EchoFigure CEchoRound::Figure(size_t target) const {
  std::vector<uint32_t> times;
  for (const Probe& p : targets_[target].probes) {
    if (p.state == Probe::kAnswered) times.push_back(p.rttMs);
  }
  EchoFigure f;
  f.answered = static_cast<int>(times.size());
  if (times.empty()) return f;
  std::sort(times.begin(), times.end());
  size_t mid = times.size() / 2;
  // An even count takes the mean of the middle two, rounded down.
  f.medianMs = static_cast<int>(times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2);
  return f;
}
