#include "client/accel/route_rows.h"

#include <algorithm>
#include <cstring>

#include "common/dotted_address.h"
#include "common/text_format.h"
#include "common/xml_doc.h"

std::string DottedAddress(uint32_t addr) {
  unsigned char b[4];
  std::memcpy(b, &addr, 4);  // network order: the first byte in memory is the first part
  return Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

DefaultRouteChoice ChooseDefaultRoute(const std::vector<RouteRow>& rows, const IfTypeReader& ifType) {
  DefaultRouteChoice choice;
  for (size_t i = 0; i < rows.size(); ++i) {
    const RouteRow& row = rows[i];
    if (row.dest != 0 || row.mask != 0) continue;
    uint32_t type = 0;
    if (!ifType(row.ifIndex, &type)) continue;
    if (choice.index >= 0) {
      choice.log.push_back(Format("发现多个默认路由，上个接口类型：%d, 这个是: %d\r\n",
                                  static_cast<int>(choice.ifType), static_cast<int>(type)));
      // A dial-up connection made after the LAN one carries the traffic.
      if (type != kIfTypePpp) continue;
    }
    choice.index = static_cast<int>(i);
    choice.ifType = type;
    choice.log.push_back(Format("取得原默认网关：%s, Metrics: %d\r\n",
                                DottedAddress(row.nextHop).c_str(),
                                static_cast<int>(row.metric1)));
  }
  if (choice.index < 0) choice.log.push_back("原路由表中无默认网关信息!\r\n");
  return choice;
}

RouteRow BuildRouteRow(const RouteRow& tmpl, uint32_t net, uint32_t mask) {
  RouteRow row = tmpl;
  row.dest = net & mask;
  row.mask = mask;
  row.type = kRouteTypeIndirect;
  row.proto = kRouteProtoNetMgmt;
  row.policy = 0;
  row.age = 0;
  row.nextHopAS = 0;
  return row;
}

std::string RouteErrorText(uint32_t code) {
  switch (code) {
    case 160: return "添加路由失败：路由参数不正确(1).\r\n";
    case 87: return "添加路由失败：路由参数不正确(2).\r\n";
    case 50: return "添加路由失败：不支持添加动态路由.\r\n";
    case 5: return "添加路由失败：权限不够，请使用管理员权限运行加速器.\r\n";
    case 2: return "添加路由失败：网关不正确.\r\n";
    case 5010: return "添加路由失败：路由项已经存在.\r\n";
    default: return Format("添加路由失败：其他错误(%d).\r\n", static_cast<int>(code));
  }
}

bool RouteRowFor(const RouteRow& tmpl, const std::string& net, const std::string& mask,
                 RouteRow* row) {
  uint32_t netAddr, maskAddr;
  if (!ParseDottedAddress(net, &netAddr) || !ParseDottedAddress(mask, &maskAddr)) return false;
  *row = BuildRouteRow(tmpl, netAddr, maskAddr);
  return true;
}

namespace {

// Entry texts come from a downloaded file: cut short, control bytes shown as '?'.
std::string ShownEntryText(const std::string& text) {
  return ShowControlBytes(text.substr(0, 40));
}

uint32_t HostOrder(uint32_t addr) {
  unsigned char b[4];
  std::memcpy(b, &addr, 4);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

}  // namespace

std::string BadRouteEntryText(const std::string& net, const std::string& mask) {
  return Format("路由项不是有效的地址，已跳过：net=\"%s\" mask=\"%s\"\r\n",
                ShownEntryText(net).c_str(), ShownEntryText(mask).c_str());
}

namespace {

// A network that would take over the default route (fewer than 8 leading one bits), or one
// of this host, loopback, multicast and the reserved.
bool NeverRouted(uint32_t netAddr, uint32_t maskAddr) {
  uint32_t m = HostOrder(maskAddr);
  // Leading one bits only: a mask that is not contiguous keeps its first run as prefix.
  bool shortPrefix = (m & 0xFF000000u) != 0xFF000000u;
  uint32_t first = HostOrder(netAddr & maskAddr) >> 24;
  return shortPrefix || first == 0 || first == 127 || first >= 224;
}

std::string RefusedText(const std::string& net, const std::string& mask) {
  return Format("路由项的网络不允许添加，已跳过：net=\"%s\" mask=\"%s\"\r\n",
                ShownEntryText(net).c_str(), ShownEntryText(mask).c_str());
}

}  // namespace

bool RouteListRowFor(const RouteRow& tmpl, const std::string& net, const std::string& mask,
                     RouteRow* row, std::string* skipped) {
  uint32_t netAddr, maskAddr;
  if (!ParseDottedAddress(net, &netAddr) || !ParseDottedAddress(mask, &maskAddr)) {
    *skipped = BadRouteEntryText(net, mask);
    return false;
  }
  if (NeverRouted(netAddr, maskAddr)) {
    *skipped = RefusedText(net, mask);
    return false;
  }
  *row = BuildRouteRow(tmpl, netAddr, maskAddr);
  return true;
}

TunnelEntryVerdict CTunnelEntryGuard::Check(const std::string& net, const std::string& mask,
                                             std::string* logLine) {
  logLine->clear();
  if (m_full) return kTunnelEntryLeft;
  uint32_t netAddr, maskAddr;
  if (!ParseDottedAddress(net, &netAddr) || !ParseDottedAddress(mask, &maskAddr)) {
    return kTunnelEntryTaken;
  }
  for (const TunnelKeepOut& keep : m_keepOut) {
    if (keep.addr == 0 || (keep.addr & maskAddr) != (netAddr & maskAddr)) continue;
    *logLine = Format("路由项包含%s的地址%s，已跳过：net=\"%s\" mask=\"%s\"\r\n", keep.what,
                      DottedAddress(keep.addr).c_str(), ShownEntryText(net).c_str(),
                      ShownEntryText(mask).c_str());
    return kTunnelEntryRefused;
  }
  // Every zero bit of the mask doubles what the entry covers, contiguous or not.
  int hostBits = 0;
  for (uint32_t m = ~maskAddr; m; m &= m - 1) ++hostBits;
  uint64_t size = uint64_t(1) << hostBits;
  if (m_covered + size > kMaxTunnelAddresses) {
    m_full = true;
    *logLine = Format("加速路由项共超过%u个地址，其余的未添加：net=\"%s\" mask=\"%s\"\r\n",
                      static_cast<unsigned>(kMaxTunnelAddresses),
                      ShownEntryText(net).c_str(), ShownEntryText(mask).c_str());
    return kTunnelEntryLeft;
  }
  m_covered += size;
  return kTunnelEntryTaken;
}

int FindTunnelRow(const std::vector<RouteRow>& rows, const std::string& tunnelIp,
                  std::string* refusal) {
  uint32_t hop = 0;
  if (!ParseDottedAddress(tunnelIp, &hop) || hop == 0 || hop == 0xFFFFFFFFu) {
    *refusal = Format("隧道地址无效(%.40s)，不添加加速路由.\r\n", tunnelIp.c_str());
    return -1;
  }
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].nextHop == hop) return static_cast<int>(i);
  return -1;
}

namespace {

// False when an entry was left because *handed reached the limit.
bool WalkEntries(CXmlDoc& doc, RouteKind kind, const RouteVisitor& visit, size_t* handed) {
  if (!doc.Enter()) return true;
  bool whole = true;
  while (doc.FindNext("entry")) {
    if (*handed >= kMaxRouteEntries) {
      whole = false;
      break;
    }
    ++*handed;
    visit(kind, doc.GetAttribute("net"), doc.GetAttribute("mask"));
  }
  doc.Leave();
  return whole;
}

}  // namespace

bool WalkRouteList(CXmlDoc& doc, const RouteVisitor& visit) {
  if (!doc.FindNext("data") || !doc.Enter()) return true;
  size_t handed = 0;
  bool whole = true;
  // A failed search leaves the position where it was, so a list without "remote" still
  // finds "direct"; one placed before "remote" is not looked for.
  if (doc.FindNext("remote")) whole = WalkEntries(doc, kRouteTunnel, visit, &handed);
  if (doc.FindNext("direct") && !WalkEntries(doc, kRouteDirect, visit, &handed)) whole = false;
  doc.Leave();
  return whole;
}

std::string RouteListCutText() {
  return Format("路由列表超过%u项，其余的未添加.\r\n", static_cast<unsigned>(kMaxRouteEntries));
}

std::vector<RouteEntry> ReadRouteList(CXmlDoc& doc) {
  std::vector<RouteEntry> out;
  WalkRouteList(doc, [&out](RouteKind kind, const std::string& net, const std::string& mask) {
    out.push_back({kind, net, mask});
  });
  return out;
}

std::vector<std::string> RouteDumpLines(const std::vector<RouteRow>& rows) {
  std::vector<std::string> lines;
  lines.reserve(rows.size() + 1);
  lines.push_back("----本地路由表信息：----\r\n");
  for (const RouteRow& r : rows)
    lines.push_back(Format("    %s/%s => %s\r\n", DottedAddress(r.dest).c_str(),
                           DottedAddress(r.mask).c_str(), DottedAddress(r.nextHop).c_str()));
  return lines;
}

namespace {

// Leading one bits of a mask in network byte order; -1 when the mask is not contiguous.
int PrefixLength(uint32_t mask) {
  uint32_t m = HostOrder(mask);
  int ones = 0;
  while (ones < 32 && (m & (0x80000000u >> ones))) ++ones;
  if (ones < 32 && (m << ones) != 0) return -1;
  return ones;
}

uint64_t IndexKey(uint32_t mask, uint32_t dest) { return (uint64_t(mask) << 32) | (dest & mask); }

// The better of two rows that both hold the address.
bool Better(const RouteRow& a, const RouteRow& b) {
  int pa = PrefixLength(a.mask), pb = PrefixLength(b.mask);
  if (pa < 0) pa = 0;  // a mask that is not contiguous counts by its ones only
  if (pb < 0) pb = 0;
  if (pa != pb) return pa > pb;
  return a.metric1 < b.metric1;
}

}  // namespace

uint32_t CMemoryRouteTable::Add(const RouteRow& row) {
  if (Find(row.dest, row.mask)) return 5010;
  size_t at = m_rows.size();
  m_rows.push_back(row);
  m_rows.back().dest &= row.mask;  // as the system keeps it
  if (PrefixLength(row.mask) < 0) {
    m_odd.push_back(at);
    return 0;
  }
  m_index.emplace(IndexKey(row.mask, row.dest), at);
  auto longerFirst = [](uint32_t a, uint32_t b) { return PrefixLength(a) > PrefixLength(b); };
  auto pos = std::lower_bound(m_masks.begin(), m_masks.end(), row.mask, longerFirst);
  if (pos == m_masks.end() || *pos != row.mask) m_masks.insert(pos, row.mask);
  return 0;
}

const RouteRow* CMemoryRouteTable::Find(uint32_t dest, uint32_t mask) const {
  if (PrefixLength(mask) < 0) {
    for (size_t i : m_odd)
      if (m_rows[i].mask == mask && m_rows[i].dest == (dest & mask)) return &m_rows[i];
    return nullptr;
  }
  auto it = m_index.find(IndexKey(mask, dest));
  return it != m_index.end() ? &m_rows[it->second] : nullptr;
}

bool CMemoryRouteTable::Best(uint32_t dest, RouteRow* best) const {
  const RouteRow* found = nullptr;
  for (uint32_t mask : m_masks) {
    auto it = m_index.find(IndexKey(mask, dest));
    if (it == m_index.end()) continue;
    found = &m_rows[it->second];
    break;  // masks come longest first
  }
  for (size_t i : m_odd)
    if ((dest & m_rows[i].mask) == m_rows[i].dest && (!found || Better(m_rows[i], *found)))
      found = &m_rows[i];
  if (!found) return false;
  *best = *found;
  return true;
}

std::vector<size_t> RouteCheckPicks(size_t count) {
  std::vector<size_t> picks;
  size_t n = count < kRouteCheckMax ? count : kRouteCheckMax;
  picks.reserve(n);
  // count / n >= 1, so the picks are distinct and in list order.
  for (size_t i = 0; i < n; ++i) picks.push_back(static_cast<size_t>(uint64_t(i) * count / n));
  return picks;
}

RouteCheckResult CheckTunnelRoutes(const std::vector<TunnelNet>& nets, uint32_t tunnelIfIndex,
                                   const BestRouteReader& best) {
  RouteCheckResult result;
  for (size_t i : RouteCheckPicks(nets.size())) {
    ++result.checked;
    RouteRow row;
    bool known = best(nets[i].dest, &row);
    if (known && row.ifIndex == tunnelIfIndex) continue;
    if (++result.missed > kRouteCheckLines) continue;
    std::string net = DottedAddress(nets[i].dest) + "/" + DottedAddress(nets[i].mask);
    result.log.push_back(
        known ? Format("加速路由未生效：%s 的数据走接口%u，下一跳%s\r\n", net.c_str(),
                       static_cast<unsigned>(row.ifIndex), DottedAddress(row.nextHop).c_str())
              : Format("加速路由未生效：%s 没有路由\r\n", net.c_str()));
  }
  if (result.missed > kRouteCheckLines)
    result.log.push_back(Format("另有%u个加速路由未生效（共检查%u个）\r\n",
                                static_cast<unsigned>(result.missed - kRouteCheckLines),
                                static_cast<unsigned>(result.checked)));
  return result;
}

std::string RouteOwnedElsewhereText(const TunnelNet& net, const RouteRow& owner) {
  return Format("加速路由已被其他接口占用：%s/%s 走接口%u，下一跳%s\r\n",
                DottedAddress(net.dest).c_str(), DottedAddress(net.mask).c_str(),
                static_cast<unsigned>(owner.ifIndex), DottedAddress(owner.nextHop).c_str());
}

uint32_t FindDefaultHalves(const std::vector<RouteRow>& rows, uint32_t tunnelIfIndex) {
  uint32_t half;  // 128.0.0.0, the mask of both halves and the upper one's network
  const unsigned char b[4] = {0x80, 0, 0, 0};
  std::memcpy(&half, b, 4);
  for (const RouteRow& low : rows) {
    if (low.dest != 0 || low.mask != half || low.ifIndex == tunnelIfIndex) continue;
    for (const RouteRow& high : rows)
      if (high.dest == half && high.mask == half && high.ifIndex == low.ifIndex) return low.ifIndex;
  }
  return 0;
}

bool IsVpnDeviceType(const std::string& deviceType) {
  const char kVpn[] = "vpn";
  if (deviceType.size() != 3) return false;
  for (size_t i = 0; i < 3; ++i) {
    char c = deviceType[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kVpn[i]) return false;
  }
  return true;
}

std::string OtherVpnHalvesText(uint32_t ifIndex) {
  return Format("检测到其他VPN连接：接口%u持有默认路由的两半(0.0.0.0/1, 128.0.0.0/1)\r\n",
                static_cast<unsigned>(ifIndex));
}

std::string OtherVpnDialUpText(uint32_t ifIndex, const std::string& deviceType) {
  return Format("检测到其他VPN连接：原默认路由在VPN拨号连接上(接口%u，设备类型%s)\r\n",
                static_cast<unsigned>(ifIndex), ShowControlBytes(deviceType.substr(0, 16)).c_str());
}

std::string DnsNotPinnedText(const std::string& server, const RouteRow& best) {
  return Format("DNS服务器%s的路由走接口%u(下一跳%s)，不是原默认网关的接口，不固定其路由.\r\n",
                ShowControlBytes(server.substr(0, 40)).c_str(), static_cast<unsigned>(best.ifIndex),
                DottedAddress(best.nextHop).c_str());
}
