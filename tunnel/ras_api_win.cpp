#include "tunnel/ras_api.h"

namespace {

class CRealRasApi : public IRasApi {
 public:
  DWORD SetEntryProperties(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA rasEntry,
                           DWORD entrySize) override {
    return RasSetEntryPropertiesA(phonebook, entry, rasEntry, entrySize, nullptr, 0);
  }
  DWORD Dial(LPCSTR phonebook, LPRASDIALPARAMSA params, DWORD notifierType, LPVOID notifier,
             LPHRASCONN conn) override {
    return RasDialA(nullptr, phonebook, params, notifierType, notifier, conn);
  }
  DWORD GetProjectionInfo(HRASCONN conn, RASPROJECTION projection, LPVOID info,
                          LPDWORD size) override {
    return RasGetProjectionInfoA(conn, projection, info, size);
  }
  DWORD HangUp(HRASCONN conn) override { return RasHangUpA(conn); }
  DWORD GetConnectStatus(HRASCONN conn, LPRASCONNSTATUSA status) override {
    return RasGetConnectStatusA(conn, status);
  }
  DWORD EnumConnections(LPRASCONNA conns, LPDWORD bytes, LPDWORD count) override {
    return RasEnumConnectionsA(conns, bytes, count);
  }
  DWORD GetErrorString(UINT code, LPSTR text, DWORD size) override {
    return RasGetErrorStringA(code, text, size);
  }
};

CRealRasApi g_realRas;
IRasApi* g_ras = &g_realRas;

}  // namespace

IRasApi& RasApi() { return *g_ras; }

void SetRasApi(IRasApi* api) { g_ras = api ? api : &g_realRas; }
