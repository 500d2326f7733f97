#include "netsim_rules.h"

#include <cerrno>
#include <cstdio>

#include "common/dotted_address.h"
#include "request_recorder.h"

namespace stub {

namespace {

constexpr int kIcmp = 1;
constexpr int kTcp = 6;
constexpr int kUdp = 17;
constexpr size_t kIpHeader = 20;

bool ParseDecimal(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// The one value of a query parameter; a missing or repeated one does not count.
bool OneParam(const std::multimap<std::string, std::string>& query, const char* name,
              std::string* value) {
  if (query.count(name) != 1) return false;
  *value = query.find(name)->second;
  return true;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v >> 16));
  Put16(p + 2, static_cast<uint16_t>(v));
}

uint32_t SumWords(const uint8_t* p, size_t len, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < len; i += 2) sum += Get16(p + i);
  if (len & 1) sum += static_cast<uint32_t>(p[len - 1]) << 8;
  return sum;
}

uint16_t Fold(uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// A fresh IP header for an answer of payload_len bytes, checksum filled in.
void WriteIpHeader(uint8_t* h, size_t payload_len, uint16_t id, int proto, uint32_t src,
                   uint32_t dst) {
  h[0] = 0x45;
  h[1] = 0;
  Put16(h + 2, static_cast<uint16_t>(kIpHeader + payload_len));
  Put16(h + 4, id);
  Put16(h + 6, 0);
  h[8] = 64;
  h[9] = static_cast<uint8_t>(proto);
  Put16(h + 10, 0);
  Put32(h + 12, src);
  Put32(h + 16, dst);
  Put16(h + 10, Fold(SumWords(h, kIpHeader)));
}

}  // namespace

std::string FormatAddress(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return buf;
}

int MaskPrefixLength(uint32_t mask) {
  int len = 0;
  while (len < 32 && (mask & (0x80000000u >> len))) ++len;
  uint32_t expected = len == 0 ? 0 : 0xFFFFFFFFu << (32 - len);
  return mask == expected ? len : -1;
}

RoutePlan PlanForwardEntry(const std::multimap<std::string, std::string>& query,
                           const std::function<bool(int, std::vector<uint32_t>*)>& interface_addresses) {
  RoutePlan plan;
  plan.code = kWinInvalidParameter;
  std::string dest, mask, nexthop, ifindex, metric;
  uint32_t dest_v = 0, mask_v = 0, nexthop_v = 0, ifindex_v = 0, metric_v = 0;
  if (!OneParam(query, "dest", &dest) || !OneParam(query, "mask", &mask) ||
      !OneParam(query, "nexthop", &nexthop) || !OneParam(query, "ifindex", &ifindex) ||
      !OneParam(query, "metric", &metric) || !ParseDottedAddressHostOrder(dest, &dest_v) ||
      !ParseDottedAddressHostOrder(mask, &mask_v) || !ParseDottedAddressHostOrder(nexthop, &nexthop_v) ||
      !ParseDecimal(ifindex, &ifindex_v) || !ParseDecimal(metric, &metric_v)) {
    return plan;
  }
  int prefix_len = MaskPrefixLength(mask_v);
  if (prefix_len < 0 || (dest_v & ~mask_v) != 0) return plan;
  std::vector<uint32_t> own;
  if (ifindex_v == 0 || ifindex_v > 0x7FFFFFFF ||
      !interface_addresses(static_cast<int>(ifindex_v), &own)) {
    return plan;
  }
  plan.code = kWinOk;
  plan.dest = dest_v;
  plan.prefix_len = prefix_len;
  plan.ifindex = static_cast<int>(ifindex_v);
  // Windows takes a next hop that is the interface's own address as "on this link".
  bool on_link = false;
  for (uint32_t a : own) on_link = on_link || a == nexthop_v;
  plan.gateway = on_link ? 0 : nexthop_v;
  return plan;
}

int WindowsCodeForRouteErrno(int err) {
  switch (err) {
    case 0: return kWinOk;
    case EEXIST: return kWinAlreadyExists;
    case ENETUNREACH:
    case EINVAL: return kWinFileNotFound;
    default: return kWinGenFailure;
  }
}

PacketInfo ReadPacket(const uint8_t* b, size_t len) {
  PacketInfo info;
  info.size = len;
  if (len > 0 && (b[0] >> 4) == 6) return info;
  info.ipv4 = true;
  if (len == 0 || (b[0] >> 4) != 4) {
    info.error = "not IPv4";
    return info;
  }
  if (len >= 10) info.proto = b[9];
  if (len < kIpHeader) {
    info.error = "truncated header";
    return info;
  }
  info.src = Get32(b + 12);
  info.dst = Get32(b + 16);
  info.has_addresses = true;
  size_t ihl = static_cast<size_t>(b[0] & 0x0F) * 4;
  size_t total = Get16(b + 2);
  if (ihl < kIpHeader) {
    info.error = "bad header length";
    return info;
  }
  if (ihl > len) {
    info.error = "truncated header";
    return info;
  }
  if (total < ihl) {
    info.error = "bad total length";
    return info;
  }
  if (total > len) {
    info.error = "truncated";
    return info;
  }
  info.size = total;
  if (Fold(SumWords(b, ihl)) != 0) {
    info.error = "bad header checksum";
    return info;
  }
  bool first_fragment = (Get16(b + 6) & 0x1FFF) == 0;
  const uint8_t* payload = b + ihl;
  size_t payload_len = total - ihl;
  if (first_fragment && (info.proto == kUdp || info.proto == kTcp) && payload_len >= 4) {
    info.sport = Get16(payload);
    info.dport = Get16(payload + 2);
    info.has_ports = true;
  }
  bool whole = first_fragment && (Get16(b + 6) & 0x2000) == 0;
  if (whole && info.proto == kUdp &&
      (payload_len < 8 || Get16(payload + 4) < 8 || Get16(payload + 4) > payload_len)) {
    info.error = "bad udp length";
  }
  return info;
}

std::string FormatPacketLine(const PacketInfo& info, uint64_t seq, const std::string& time,
                             const std::string& ifname) {
  std::string line = "{\"seq\":" + std::to_string(seq) + ",\"time\":" + JsonBytes(time) +
                     ",\"if\":" + JsonBytes(ifname);
  if (info.has_addresses) {
    line += ",\"src\":\"" + FormatAddress(info.src) + "\",\"dst\":\"" + FormatAddress(info.dst) + "\"";
  }
  if (info.proto >= 0) {
    const char* name = info.proto == kUdp ? "udp" : info.proto == kTcp ? "tcp" : info.proto == kIcmp ? "icmp" : nullptr;
    line += ",\"proto\":";
    line += name ? std::string("\"") + name + "\"" : std::to_string(info.proto);
  }
  if (info.has_ports) {
    line += ",\"sport\":" + std::to_string(info.sport) + ",\"dport\":" + std::to_string(info.dport);
  }
  line += ",\"size\":" + std::to_string(info.size);
  if (!info.error.empty()) line += ",\"error\":" + JsonBytes(info.error);
  line += '}';
  return line;
}

bool BuildEchoAnswer(const uint8_t* b, size_t len, std::vector<uint8_t>* answer) {
  PacketInfo info = ReadPacket(b, len);
  if (!info.ipv4 || !info.error.empty()) return false;
  if ((Get16(b + 6) & 0x3FFF) != 0) return false;  // a fragment: the payload is not whole
  // No host answers for a group or broadcast address, nor to an unset source.
  if (info.dst >= 0xE0000000u || info.src == 0 || info.src >= 0xE0000000u) return false;
  size_t ihl = static_cast<size_t>(b[0] & 0x0F) * 4;
  const uint8_t* in = b + ihl;
  size_t in_len = info.size - ihl;
  uint16_t id = Get16(b + 4);
  if (info.proto == kUdp) {
    size_t udp_len = Get16(in + 4);
    answer->assign(kIpHeader + udp_len, 0);
    uint8_t* out = answer->data() + kIpHeader;
    WriteIpHeader(answer->data(), udp_len, id, kUdp, info.dst, info.src);
    Put16(out, info.dport);
    Put16(out + 2, info.sport);
    Put16(out + 4, static_cast<uint16_t>(udp_len));
    for (size_t i = 8; i < udp_len; ++i) out[i] = in[i];
    // Pseudo-header: addresses, protocol and UDP length; 0 is sent as all ones.
    uint32_t sum = (info.dst >> 16) + (info.dst & 0xFFFF) + (info.src >> 16) + (info.src & 0xFFFF) +
                   kUdp + static_cast<uint32_t>(udp_len);
    uint16_t check = Fold(SumWords(out, udp_len, sum));
    Put16(out + 6, check == 0 ? 0xFFFF : check);
    return true;
  }
  if (info.proto == kIcmp && in_len >= 8 && in[0] == 8 && in[1] == 0) {
    answer->assign(kIpHeader + in_len, 0);
    uint8_t* out = answer->data() + kIpHeader;
    WriteIpHeader(answer->data(), in_len, id, kIcmp, info.dst, info.src);
    for (size_t i = 4; i < in_len; ++i) out[i] = in[i];  // identifier, sequence and data
    out[0] = 0;  // echo reply
    Put16(out + 2, Fold(SumWords(out, in_len)));
    return true;
  }
  return false;
}

namespace {

// A decimal of at most 6 digits, up to max.
bool ParseBounded(const std::multimap<std::string, std::string>& query, const char* name,
                  uint32_t max, uint32_t* value) {
  auto it = query.find(name);
  *value = 0;
  if (it == query.end()) return true;
  const std::string& text = it->second;
  if (text.empty() || text.size() > 6) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v > max) return false;
  *value = v;
  return true;
}

}  // namespace

bool AnswerShaping::Set(const std::multimap<std::string, std::string>& query, std::string* error) {
  auto dst = query.find("dst");
  uint32_t address = 0;
  if (dst == query.end() || !ParseDottedAddressHostOrder(dst->second, &address)) {
    *error = "need dst=<address>";
    return false;
  }
  Rule rule;
  if (!ParseBounded(query, "delay_ms", 60000, &rule.delay_ms)) {
    *error = "bad delay_ms (0 to 60000)";
    return false;
  }
  if (!ParseBounded(query, "loss_pct", 100, &rule.loss_pct)) {
    *error = "bad loss_pct (0 to 100)";
    return false;
  }
  if (rule.delay_ms == 0 && rule.loss_pct == 0) {
    rules_.erase(address);
  } else {
    rules_[address] = rule;
  }
  return true;
}

bool AnswerShaping::Pass(uint32_t dst, uint32_t* delay_ms) {
  *delay_ms = 0;
  auto it = rules_.find(dst);
  if (it == rules_.end()) return true;
  Rule& r = it->second;
  uint64_t n = r.answers++;
  if ((n + 1) * r.loss_pct / 100 > n * r.loss_pct / 100) return false;
  *delay_ms = r.delay_ms;
  return true;
}

}  // namespace stub
