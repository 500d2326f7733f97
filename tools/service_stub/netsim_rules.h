// The simulated network's rules that need no kernel: how a CreateIpForwardEntry row is
// judged and which Windows code a kernel answer becomes, how a packet from a tun device is
// read, recorded and answered. Addresses are IPv4 in host byte order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace stub {

// Windows codes of CreateIpForwardEntry.
constexpr int kWinOk = 0;
constexpr int kWinFileNotFound = 2;        // ERROR_FILE_NOT_FOUND: next hop not reachable
constexpr int kWinGenFailure = 31;         // ERROR_GEN_FAILURE
constexpr int kWinInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
constexpr int kWinAlreadyExists = 5010;    // ERROR_OBJECT_ALREADY_EXISTS

std::string FormatAddress(uint32_t address);
// Prefix length of a contiguous mask, or -1.
int MaskPrefixLength(uint32_t mask);

// What the kernel is to be asked for one row, or the code to answer without asking.
struct RoutePlan {
  int code = kWinOk;  // not kWinOk: answer this, change nothing
  uint32_t dest = 0;
  int prefix_len = 0;
  uint32_t gateway = 0;  // 0: on-link
  int ifindex = 0;
};

// The query of /_route (dest, mask, nexthop, ifindex, metric). interface_addresses fills
// the addresses of an interface and answers false when there is no interface of that
// index. The metric is checked for form only: routes are always added with priority 0.
RoutePlan PlanForwardEntry(const std::multimap<std::string, std::string>& query,
                           const std::function<bool(int, std::vector<uint32_t>*)>& interface_addresses);

// The Windows code for the kernel's answer (errno, 0 for success) to a route addition.
int WindowsCodeForRouteErrno(int err);

// What could be read of an IP packet from a tun device.
struct PacketInfo {
  bool ipv4 = false;       // version 4 (anything but 6 that is not 4 is malformed)
  std::string error;       // empty when well formed
  uint32_t src = 0, dst = 0;
  bool has_addresses = false;
  int proto = -1;          // -1 when not readable
  bool has_ports = false;  // udp or tcp with its ports readable
  uint16_t sport = 0, dport = 0;
  size_t size = 0;         // the IP packet's length (total length, else bytes read)
};

// bytes as read; version 6 packets give ipv4 false and no error (they are not ours).
PacketInfo ReadPacket(const uint8_t* bytes, size_t len);

// The record line of one packet, without the line break.
std::string FormatPacketLine(const PacketInfo& info, uint64_t seq, const std::string& time,
                             const std::string& ifname);

// The answer a game server gives: a UDP datagram comes back with the same payload from
// dst:dport to src:sport, an ICMP echo request gets its echo reply, TTL 64, checksums
// right. Anything else, a fragment or a malformed packet gives false.
bool BuildEchoAnswer(const uint8_t* bytes, size_t len, std::vector<uint8_t>* answer);

// Delay and loss of the answers to one destination (/_netem?dst=D&delay_ms=N&loss_pct=P):
// of the answers to D, loss_pct in a hundred are dropped, spread evenly and counted from the
// rule's setting rather than drawn at random (with 25 the 4th, 8th, ... go), so that a run
// sees the same every time; the others leave delay_ms late. delay_ms 0 and loss_pct 0 remove
// the rule.
class AnswerShaping {
 public:
  // Reads a /_netem query; false with the reason when it is not one.
  bool Set(const std::multimap<std::string, std::string>& query, std::string* error);
  // For an answer to a packet sent to dst: false to drop it, else its delay.
  bool Pass(uint32_t dst, uint32_t* delay_ms);

 private:
  struct Rule {
    uint32_t delay_ms = 0;
    uint32_t loss_pct = 0;
    uint64_t answers = 0;
  };
  std::map<uint32_t, Rule> rules_;
};

}  // namespace stub
