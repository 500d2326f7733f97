#include "client/accel/route_table.h"

namespace {

class CSystemRouteTable : public IRouteTable {
 public:
  DWORD CreateEntry(MIB_IPFORWARDROW* row) override { return CreateIpForwardEntry(row); }
  DWORD BestRoute(DWORD dest, MIB_IPFORWARDROW* row) override { return GetBestRoute(dest, 0, row); }
};

CSystemRouteTable g_system;
IRouteTable* g_table = &g_system;

}  // namespace

IRouteTable& RouteTable() { return *g_table; }

void SetRouteTable(IRouteTable* table) { g_table = table ? table : &g_system; }
