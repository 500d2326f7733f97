// The dial-up service as the tunnel module uses it. The real implementation calls
// rasapi32; tests put a scripted one in its place, since Wine's dial-up functions are stubs.
#pragma once

#include <windows.h>
#include <ras.h>
#include <raserror.h>

// The connection list entry in its Windows 7 layout (720 bytes in a 32-bit build, 724 in a
// 64-bit one). The MinGW headers stop at the Windows XP fields; the service checks dwSize
// against the layouts it knows, and the Windows 7 build asks for this one. Packed like
// every dial-up structure of the system headers.
#include <pshpack4.h>
struct RasConnW7A {
  DWORD dwSize;
  HRASCONN hrasconn;
  CHAR szEntryName[RAS_MaxEntryName + 1];
  CHAR szDeviceType[RAS_MaxDeviceType + 1];
  CHAR szDeviceName[RAS_MaxDeviceName + 1];
  CHAR szPhonebook[MAX_PATH];
  DWORD dwSubEntry;
  GUID guidEntry;
  DWORD dwFlags;
  LUID luid;
  GUID guidCorrelationId;
};
#include <poppack.h>

class IRasApi {
 public:
  virtual ~IRasApi() {}
  virtual DWORD SetEntryProperties(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA rasEntry,
                                   DWORD entrySize) = 0;
  virtual DWORD Dial(LPCSTR phonebook, LPRASDIALPARAMSA params, DWORD notifierType,
                     LPVOID notifier, LPHRASCONN conn) = 0;
  virtual DWORD GetProjectionInfo(HRASCONN conn, RASPROJECTION projection, LPVOID info,
                                  LPDWORD size) = 0;
  virtual DWORD HangUp(HRASCONN conn) = 0;
  virtual DWORD GetConnectStatus(HRASCONN conn, LPRASCONNSTATUSA status) = 0;
  // conns[0].dwSize names the entry layout: the Windows 7 one or the Windows XP one.
  virtual DWORD EnumConnections(LPRASCONNA conns, LPDWORD bytes, LPDWORD count) = 0;
  virtual DWORD GetErrorString(UINT code, LPSTR text, DWORD size) = 0;
};

IRasApi& RasApi();
void SetRasApi(IRasApi* api);  // null restores the real one
