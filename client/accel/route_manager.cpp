#include "client/accel/route_manager.h"

#include <ras.h>
#include <raserror.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/accel/route_table.h"
#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "common/dotted_address.h"
#include "common/run_log.h"
#include "common/sized_table.h"
#include "common/text_format.h"
#include "common/xml_doc.h"

static_assert(sizeof(MIB_IPFORWARDROW) == sizeof(RouteRow), "rows are copied field for field");

namespace {

const char kStartNoMemory[] = "程序运行内存不足!\r\n";
const char kStartReadFailed[] = "配置路由表:获取路由表信息失败!\r\n";
const char kNoMemory[] = "程序运行内存不足,建议您关闭部分程序!\r\n";
const char kReadFailed[] = "配置路由表:获取路由信息失败!\r\n";
const DWORD kRouteExists = 5010;  // ERROR_OBJECT_ALREADY_EXISTS

RouteRow ToRouteRow(const MIB_IPFORWARDROW& r) {
  RouteRow row;
  std::memcpy(&row, &r, sizeof row);
  return row;
}

MIB_IPFORWARDROW ToForwardRow(const RouteRow& r) {
  MIB_IPFORWARDROW row;
  std::memcpy(&row, &r, sizeof row);
  return row;
}

bool ReadIfType(uint32_t index, uint32_t* type) {
  MIB_IFROW row;
  std::memset(&row, 0, sizeof row);
  row.dwIndex = index;
  if (GetIfEntry(&row) != NO_ERROR) return false;
  *type = row.dwType;
  return true;
}

// The PC's addresses with their interfaces; none when the table cannot be read.
std::vector<MIB_IPADDRROW> AddressRows() {
  std::vector<MIB_IPADDRROW> rows;
  ULONG size = 0;
  if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size < sizeof(DWORD))
    return rows;
  std::vector<char> buffer(size);
  MIB_IPADDRTABLE* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
  if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return rows;
  size_t fit = (buffer.size() - offsetof(MIB_IPADDRTABLE, table)) / sizeof(MIB_IPADDRROW);
  for (size_t i = 0; i < table->dwNumEntries && i < fit; ++i) rows.push_back(table->table[i]);
  return rows;
}

// What the tunnel must not carry: the line's server, the gateway the PC's traffic went
// through before, and the PC's own addresses other than the tunnel's.
std::vector<TunnelKeepOut> TunnelKeepOuts(const CConfigStore& store) {
  std::vector<TunnelKeepOut> keep;
  if (const ServerItem* line = store.m_lines.FindById(store.m_connSrv)) {
    uint32_t addr;
    if (ParseDottedAddress(line->host, &addr)) {
      keep.push_back({addr, "加速服务器"});
    } else if (hostent* he = gethostbyname(line->host.c_str())) {
      for (char** a = he->h_addr_list; he->h_length == 4 && a && *a; ++a) {
        std::memcpy(&addr, *a, 4);
        keep.push_back({addr, "加速服务器"});
      }
    }
  }
  keep.push_back({store.m_directRoute.dwForwardNextHop, "原默认网关"});
  uint32_t tunnel = 0;
  ParseDottedAddress(store.m_tunnelIp, &tunnel);
  for (const MIB_IPADDRROW& row : AddressRows())
    if (row.dwAddr != tunnel) keep.push_back({row.dwAddr, "本机"});
  return keep;
}

// The device type ("vpn", "PPPoE", "modem", ...) of the dial-up connection that owns an
// interface, matched by the address the connection was given; "" when none does.
std::string DialUpDeviceType(uint32_t ifIndex) {
  std::vector<uint32_t> addrs;
  for (const MIB_IPADDRROW& row : AddressRows())
    if (row.dwIndex == ifIndex) addrs.push_back(row.dwAddr);
  if (addrs.empty()) return "";
  RASCONNA blank;
  std::memset(&blank, 0, sizeof blank);
  blank.dwSize = sizeof blank;
  std::vector<RASCONNA> conns(1, blank);
  DWORD bytes = sizeof(RASCONNA), count = 0;
  DWORD rc = RasEnumConnectionsA(conns.data(), &bytes, &count);
  if (rc == ERROR_BUFFER_TOO_SMALL && bytes >= sizeof(RASCONNA)) {
    conns.assign(bytes / sizeof(RASCONNA) + 1, blank);
    bytes = static_cast<DWORD>(conns.size() * sizeof(RASCONNA));
    rc = RasEnumConnectionsA(conns.data(), &bytes, &count);
  }
  if (rc != 0) return "";
  for (DWORD i = 0; i < count && i < conns.size(); ++i) {
    RASPPPIPA ip;
    std::memset(&ip, 0, sizeof ip);
    ip.dwSize = sizeof ip;
    DWORD ipSize = sizeof ip;
    if (RasGetProjectionInfoA(conns[i].hrasconn, RASP_PppIp, &ip, &ipSize) != 0) continue;
    ip.szIpAddress[sizeof ip.szIpAddress - 1] = 0;
    uint32_t addr;
    if (!ParseDottedAddress(ip.szIpAddress, &addr)) continue;
    for (uint32_t a : addrs) {
      if (a != addr) continue;
      conns[i].szDeviceType[sizeof conns[i].szDeviceType - 1] = 0;
      return conns[i].szDeviceType;
    }
  }
  return "";
}

}  // namespace

bool ReadForwardTable(std::vector<RouteRow>& rows, const char* noMemoryText,
                      const char* readFailedText) {
  rows.clear();
  SizedTable table;
  DWORD rc = table.Load([](unsigned char* buffer, uint32_t* size) -> uint32_t {
    ULONG bytes = *size;
    DWORD code = GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer), &bytes, FALSE);
    *size = bytes;
    return code;
  });
  if (rc != NO_ERROR) {
    const char* text = rc == kTableNoMemory ? noMemoryText : readFailedText;
    if (text) CRunLog::WriteText(text);
    return false;
  }
  size_t n = table.RowCount(offsetof(MIB_IPFORWARDTABLE, table), sizeof(MIB_IPFORWARDROW));
  rows.reserve(n);
  for (size_t i = 0; i < n; ++i)
    rows.push_back(ToRouteRow(reinterpret_cast<const MIB_IPFORWARDTABLE*>(table.Data())->table[i]));
  return true;
}

bool HasDefaultRoute() {
  std::vector<RouteRow> rows;
  if (!ReadForwardTable(rows, nullptr, nullptr)) return false;
  for (const RouteRow& row : rows)
    if (row.dest == 0 && row.mask == 0) return true;
  return false;
}

void CRouteManager::StartUp() {
  FindDefaultRoute();
  PinDnsServers(nullptr);
}

void CRouteManager::ReadNetworkAgain() {
  if (!FindDefaultRoute()) return;  // no network now: the last one found still holds
  std::vector<RouteRow> rows;
  if (!ReadForwardTable(rows, kNoMemory, kReadFailed)) return;
  PinDnsServers(&rows);
}

void CRouteManager::PinDnsServers(const std::vector<RouteRow>* existing) {
  std::vector<std::string> servers;
  if (!CConfigStore::GetDnsServers(servers)) return;
  for (const std::string& server : servers) {
    // A split VPN's own DNS server is reached through that VPN: pinned to the LAN gateway
    // it would be cut off from it until the next reboot.
    uint32_t addr;
    MIB_IPFORWARDROW best;
    if (ParseDottedAddress(server, &addr) && RouteTable().BestRoute(addr, &best) == NO_ERROR &&
        best.dwForwardIfIndex != m_store->m_directRoute.dwForwardIfIndex) {
      CRunLog::WriteText(DnsNotPinnedText(server, ToRouteRow(best)));
      continue;
    }
    RouteRow pin;
    bool known = false;
    if (existing && RouteRowFor(ToRouteRow(m_store->m_directRoute), server, "255.255.255.0", &pin)) {
      for (const RouteRow& r : *existing)
        known = known || (r.dest == pin.dest && r.mask == pin.mask && r.nextHop == pin.nextHop &&
                          r.ifIndex == pin.ifIndex);
    }
    if (!known) AddDirectRoute(server.c_str(), "255.255.255.0");
  }
}

bool CRouteManager::FindDefaultRoute() {
  std::vector<RouteRow> rows;
  if (!ReadForwardTable(rows, kStartNoMemory, kStartReadFailed)) return false;
  DefaultRouteChoice choice = ChooseDefaultRoute(rows, ReadIfType);
  for (const std::string& line : choice.log) CRunLog::WriteText(line);
  if (choice.index < 0) return false;
  const RouteRow& taken = rows[static_cast<size_t>(choice.index)];
  m_store->m_defaultGateway = DottedAddress(taken.nextHop);
  m_store->m_directRoute = ToForwardRow(taken);
  return true;
}

bool CRouteManager::OtherVpnSeen(const std::vector<RouteRow>& rows) {
  uint32_t tunnelIf = m_store->m_tunnelRoute.dwForwardIfIndex;
  if (uint32_t halves = FindDefaultHalves(rows, tunnelIf)) {
    CRunLog::WriteText(OtherVpnHalvesText(halves));
    return true;
  }
  uint32_t formerIf = m_store->m_directRoute.dwForwardIfIndex;
  uint32_t type = 0;
  if (m_store->m_defaultGateway.empty() || !ReadIfType(formerIf, &type) || type != kIfTypePpp)
    return false;
  std::string device = DialUpDeviceType(formerIf);
  // A PPPoE uplink is the PC's own line; only a VPN carries the traffic somewhere else.
  if (!IsVpnDeviceType(device)) return false;
  CRunLog::WriteText(OtherVpnDialUpText(formerIf, device));
  return true;
}

bool CRouteManager::AddRoute(const MIB_IPFORWARDROW& tmpl, const std::string& netText,
                             const std::string& maskText, DWORD* tableError) {
  if (tableError) *tableError = NO_ERROR;
  RouteRow built;
  if (!RouteRowFor(ToRouteRow(tmpl), netText, maskText, &built)) {
    // Never to the table: inet_addr would make a route to all ones or to the whole
    // Internet of it.
    CRunLog::WriteText(BadRouteEntryText(netText, maskText));
    return false;
  }
  return AddRow(built, tableError);
}

bool CRouteManager::AddRow(const RouteRow& built, DWORD* tableError) {
  if (tableError) *tableError = NO_ERROR;
  MIB_IPFORWARDROW row = ToForwardRow(built);
  DWORD rc = RouteTable().CreateEntry(&row);
  if (tableError) *tableError = rc;
  if (rc == NO_ERROR) return true;
  CRunLog::WriteText(RouteErrorText(rc));
  return false;
}

bool CRouteManager::AddDirectRoute(const char* net, const char* mask) {
  return AddRoute(m_store->m_directRoute, net ? net : "", mask ? mask : "");
}

bool CRouteManager::AddTunnelRoute(const char* net, const char* mask) {
  return AddRoute(m_store->m_tunnelRoute, net ? net : "", mask ? mask : "");
}

bool CRouteManager::FindTunnelRoute(const char* tunnelIp, MIB_IPFORWARDROW* row) {
  std::vector<RouteRow> rows;
  if (!ReadForwardTable(rows, kNoMemory, kReadFailed)) return false;
  std::string refusal;
  int found = FindTunnelRow(rows, tunnelIp ? tunnelIp : "", &refusal);
  if (!refusal.empty()) CRunLog::WriteText(refusal);
  if (found < 0) return false;
  *row = ToForwardRow(rows[static_cast<size_t>(found)]);
  return true;
}

void CRouteManager::ApplyGameRoutes(HWND page) {
  ReadNetworkAgain();
  if (!FindTunnelRoute(m_store->m_tunnelIp.c_str(), &m_store->m_tunnelRoute)) {
    PostMessageA(page, WM_ROUTE_FAILED, 0, 0);
    return;
  }
  bool otherVpn = false;
  std::vector<RouteRow> before;
  if (ReadForwardTable(before, kNoMemory, kReadFailed)) otherVpn = OtherVpnSeen(before);
  std::string url = Format("%s?app_id=%d", m_store->ListUrl("/route.php").c_str(), m_store->m_modeApp);
  std::string path = m_store->CachePath("route.xml");
  CXmlDoc doc;
  // A failed download leaves the list of an earlier one in place, and that one is used.
  if (!path.empty()) CConfigStore::DownloadWhenOnline(url, path, "data");
  if (path.empty() || !doc.LoadFile(path)) {
    PostMessageA(page, WM_ROUTE_FAILED, 0, 0);
    return;
  }
  const DWORD tunnelIf = m_store->m_tunnelRoute.dwForwardIfIndex;
  bool refused = false;
  std::vector<TunnelNet> added;  // the tunnel's networks that the table holds now
  CTunnelEntryGuard guard(TunnelKeepOuts(*m_store));
  bool whole = WalkRouteList(doc, [&](RouteKind kind, const std::string& net, const std::string& mask) {
    // A network that would take over the default route, loopback or multicast is never
    // added, whatever list holds it; the neighbours still are.
    RouteRow row;
    std::string skipped;
    if (!RouteListRowFor(ToRouteRow(kind == kRouteTunnel ? m_store->m_tunnelRoute
                                                         : m_store->m_directRoute),
                         net, mask, &row, &skipped)) {
      CRunLog::WriteText(skipped);
      return;
    }
    if (kind == kRouteTunnel) {
      std::string line;
      if (guard.Check(net, mask, &line) != kTunnelEntryTaken) {
        if (!line.empty()) CRunLog::WriteText(line);
        refused = true;  // game traffic that the tunnel does not carry
        return;
      }
    }
    // A failing entry has been logged; the next one is tried all the same.
    DWORD error = NO_ERROR;
    AddRow(row, &error);
    if (kind != kRouteTunnel) return;
    TunnelNet tunnelNet = {row.dest, row.mask};
    if (error == NO_ERROR) {
      added.push_back(tunnelNet);
    } else if (error == kRouteExists) {
      // Ours from an earlier connection (routes are never deleted), or another VPN's that
      // keeps the game's traffic.
      MIB_IPFORWARDROW owner;
      bool known = RouteTable().BestRoute(row.dest, &owner) == NO_ERROR;
      if (known && owner.dwForwardIfIndex == tunnelIf) {
        added.push_back(tunnelNet);
        return;
      }
      if (known) CRunLog::WriteText(RouteOwnedElsewhereText(tunnelNet, ToRouteRow(owner)));
      refused = true;
    } else {
      refused = true;  // a network left out of the tunnel is game traffic left unaccelerated
    }
  });
  if (!whole) CRunLog::WriteText(RouteListCutText());
  // A more specific route of another interface wins over ours without any error.
  RouteCheckResult check = CheckTunnelRoutes(added, tunnelIf, [](uint32_t dest, RouteRow* best) {
    MIB_IPFORWARDROW row;
    if (RouteTable().BestRoute(dest, &row) != NO_ERROR) return false;
    *best = ToRouteRow(row);
    return true;
  });
  for (const std::string& line : check.log) CRunLog::WriteText(line);
  if (refused || check.missed) {
    PostMessageA(page, WM_ROUTE_FAILED, 0, 0);
  } else if (otherVpn) {
    PostMessageA(page, WM_OTHER_VPN, 0, 0);
  }
}

void CRouteManager::DumpRouteTable() {
  std::vector<RouteRow> rows;
  if (!ReadForwardTable(rows, kNoMemory, kReadFailed)) return;
  for (const std::string& line : RouteDumpLines(rows)) CRunLog::WriteText(line);
}
