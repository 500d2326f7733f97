// The structure sizes the simulated service accepts. Callers built for Windows XP
// (WINVER 0x0501) and for Windows 7 (0x0601) pass different sizes for some structures; the
// real service tells the layouts apart by the size field and refuses any other size with
// ERROR_INVALID_SIZE (632). Sizes are those of the running bitness.
#pragma once

#include <windows.h>
#include <ras.h>

#include <cstddef>

namespace dialup {

#include <pshpack4.h>
// The Windows 7 layouts that MinGW's <ras.h> lacks: each adds fields at the end of the
// XP layout, so the XP part keeps its offsets.
struct RasDialParams601A {
  RASDIALPARAMSA xp;  // <ras.h> gives this layout when built for 0x0501
  DWORD dwIfIndex;
};
struct RasConn601A {
  RASCONNA xp;
  GUID guidCorrelationId;
};
struct RasTunnelEndPoint {
  DWORD dwType;
  BYTE addr[16];
};
struct RasConnStatus601A {
  RASCONNSTATUSA xp;
  RasTunnelEndPoint localEndPoint;
  RasTunnelEndPoint remoteEndPoint;
  DWORD rasconnsubstate;
};
// The RASENTRYNAME of Windows NT 4: name only.
struct RasEntryName400A {
  DWORD dwSize;
  CHAR szEntryName[RAS_MaxEntryName + 1];
};
// The RASDIALPARAMS of Windows NT 4: no sub-entry and no callback id.
struct RasDialParams400A {
  DWORD dwSize;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
  CHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
  CHAR szUserName[UNLEN + 1];
  CHAR szPassword[PWLEN + 1];
  CHAR szDomain[DNLEN + 1];
};
#include <poppack.h>

#if defined(_WIN32_WINNT) && _WIN32_WINNT >= 0x0601
#error "build the simulated service for 0x0501: the 0x0601 layouts are spelled out above"
#endif

#if !defined(_WIN64)
// The 32-bit sizes that the tunnel modules rely on.
static_assert(sizeof(RASENTRYA) == 2884, "RASENTRYA, XP layout");
static_assert(sizeof(RASDIALPARAMSA) == 1060, "RASDIALPARAMSA, XP layout");
static_assert(sizeof(RasConn601A) == 720, "RASCONNA, Windows 7 layout");
static_assert(sizeof(RASCONNSTATUSA) == 288, "RASCONNSTATUSA, XP layout");
static_assert(sizeof(RASPPPIPA) == 48, "RASPPPIPA");
#endif

inline bool DialParamsSizeOk(DWORD size) {
  return size == sizeof(RASDIALPARAMSA) || size == sizeof(RasDialParams601A) ||
         size == sizeof(RasDialParams400A);
}
inline bool ConnSizeOk(DWORD size) {
  return size == sizeof(RASCONNA) || size == sizeof(RasConn601A);
}
inline bool ConnStatusSizeOk(DWORD size) {
  return size == sizeof(RASCONNSTATUSA) || size == sizeof(RasConnStatus601A);
}
inline bool EntrySizeOk(DWORD size) { return size == sizeof(RASENTRYA); }
inline bool EntryNameSizeOk(DWORD size) {
  return size == sizeof(RASENTRYNAMEA) || size == sizeof(RasEntryName400A);
}
// The PPP IP projection: the current layout, and the NT 3.5 one that ends after the address.
inline bool PppIpSizeOk(DWORD size) {
  return size == sizeof(RASPPPIPA) || size == offsetof(RASPPPIPA, szServerIpAddress);
}

}  // namespace dialup
