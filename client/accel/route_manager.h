// Routes for smart acceleration: the tunnel is not the default route, so the networks of
// the chosen game get routes through it, and the DNS servers and the list's direct networks
// are pinned to the former default gateway. Runs on the background worker; routes are only
// ever added, never deleted.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <vector>

#include "client/accel/route_rows.h"

class CConfigStore;

class CRouteManager {
 public:
  explicit CRouteManager(CConfigStore* store) : m_store(store) {}

  // Worker start: the former default route, then each DNS server pinned to it. Without a
  // default route the template is empty and the pins fail with logged errors.
  void StartUp();
  // Before each connection's routes: the former default route and the DNS servers read
  // again with the same rule, since the PC may have moved to another network (or had none
  // at start). A pin that is in the table already, through the same gateway, is not asked
  // for again.
  void ReadNetworkAgain();

  // Fills the direct template and the former default gateway text. True when a default
  // route was taken.
  bool FindDefaultRoute();
  bool AddDirectRoute(const char* net, const char* mask);
  bool AddTunnelRoute(const char* net, const char* mask);
  // True and row filled when a route has the tunnel address as its next hop.
  bool FindTunnelRoute(const char* tunnelIp, MIB_IPFORWARDROW* row);
  // After the tunnel came up: the selected game's route list, through the tunnel and
  // direct. WM_ROUTE_FAILED goes to page when the tunnel has no route, there is no list,
  // the routing table refused a network of the tunnel (or has it through another
  // interface), or a checked network's traffic does not leave through the tunnel.
  // Otherwise WM_OTHER_VPN goes when another VPN may take the traffic.
  void ApplyGameRoutes(HWND page);

  // The whole forwarding table into the run log.
  static void DumpRouteTable();

 private:
  // *tableError: what the routing table answered, NO_ERROR when it was not asked.
  bool AddRoute(const MIB_IPFORWARDROW& tmpl, const std::string& net, const std::string& mask,
                DWORD* tableError = nullptr);
  bool AddRow(const RouteRow& row, DWORD* tableError);

  // A DNS server whose route leaves through another interface than the former default
  // route's is not pinned.
  void PinDnsServers(const std::vector<RouteRow>* existing);
  // Another interface holding both halves of the default route, or the former default route
  // on a dial-up VPN: logged, true.
  bool OtherVpnSeen(const std::vector<RouteRow>& rows);

  CConfigStore* m_store;
};

// The forwarding table in its own order. On failure the matching text, if any, is logged and
// false returned.
bool ReadForwardTable(std::vector<RouteRow>& rows, const char* noMemoryText,
                      const char* readFailedText);

// Whether the system's table holds a default route now. Asked every second while a resumed PC
// waits for its network: a table that cannot be read is no network yet, and no log line.
bool HasDefaultRoute();
