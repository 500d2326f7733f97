#include "client/accel/route_rows.h"

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

std::string RefusedRouteEntryText(const std::string& net, const std::string& mask) {
  uint32_t netAddr, maskAddr;
  if (!ParseDottedAddress(net, &netAddr) || !ParseDottedAddress(mask, &maskAddr)) return "";
  return NeverRouted(netAddr, maskAddr) ? RefusedText(net, mask) : "";
}

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
