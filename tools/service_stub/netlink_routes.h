// The few rtnetlink requests the simulated network needs: bring a link up, give a
// point-to-point device its address and peer, add a route to the main table, read the
// main table and an interface's addresses. Addresses are IPv4 in host byte order.
// Every call speaks for the network namespace of the calling thread; failures come back
// as a positive errno value, 0 meaning success.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stub {
namespace nl {

struct RouteEntry {
  uint32_t dest = 0;
  int prefix_len = 0;
  uint32_t gateway = 0;  // 0 for an on-link route
  int ifindex = 0;       // 0 when the route names no output interface
};

int SetLinkUp(int ifindex);
// local peer <peer> / 32: the kernel adds the on-link route to the peer by itself.
int AddPeerAddress(int ifindex, uint32_t local, uint32_t peer);
// A static route in the main table, created only when no route of that destination and
// prefix exists (priority 0 always). gateway 0: on-link (scope link).
int AddRoute(uint32_t dest, int prefix_len, uint32_t gateway, int ifindex);
// Removes that route of the main table.
int DeleteRoute(uint32_t dest, int prefix_len, uint32_t gateway, int ifindex);
// The main table's IPv4 routes in the kernel's order.
int DumpMainRoutes(std::vector<RouteEntry>* routes);
// The local IPv4 addresses of one interface.
int InterfaceAddresses(int ifindex, std::vector<uint32_t>* addresses);

}  // namespace nl
}  // namespace stub
