#include "client/accel/route_rows.h"

#include <cstring>

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

namespace {

void ReadEntries(CXmlDoc& doc, RouteKind kind, std::vector<RouteEntry>& out) {
  if (!doc.Enter()) return;
  while (doc.FindNext("entry")) out.push_back({kind, doc.GetAttribute("net"), doc.GetAttribute("mask")});
  doc.Leave();
}

}  // namespace

std::vector<RouteEntry> ReadRouteList(CXmlDoc& doc) {
  std::vector<RouteEntry> out;
  if (!doc.FindNext("data") || !doc.Enter()) return out;
  // A failed search leaves the position where it was, so a list without "remote" still
  // finds "direct"; one placed before "remote" is not looked for.
  if (doc.FindNext("remote")) ReadEntries(doc, kRouteTunnel, out);
  if (doc.FindNext("direct")) ReadEntries(doc, kRouteDirect, out);
  doc.Leave();
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
