// Adding rows to the system's forwarding table and asking it which route an address takes.
// Tests put a recorder in its place: some systems they run on accept every row without
// adding it, so the answers must come from what was recorded.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

class IRouteTable {
 public:
  virtual ~IRouteTable() {}
  // CreateIpForwardEntry semantics: NO_ERROR or the system's error code.
  virtual DWORD CreateEntry(MIB_IPFORWARDROW* row) = 0;
  // GetBestRoute semantics (source address any): NO_ERROR and *row filled, or the error.
  virtual DWORD BestRoute(DWORD dest, MIB_IPFORWARDROW* row) = 0;
};

// The process-wide table: the real one unless a test has put its own in place.
IRouteTable& RouteTable();
void SetRouteTable(IRouteTable* table);  // null restores the real one
