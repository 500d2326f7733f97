#include <cstring>

#include "common/command_runner.h"
#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/dialup.h"
#include "tunnel/ras_api.h"

const char kEntryName[] = "VelaVPN";

const char* DialStateText(DWORD state) {
  switch (state) {
    case RASCS_OpenPort: return "正在打开端口...";
    case RASCS_PortOpened: return "端口已经打开...";
    case RASCS_ConnectDevice: return "连接设备...";
    case RASCS_DeviceConnected: return "设备已经连接...";
    case RASCS_AllDevicesConnected: return "所有设备已经连接...";
    case RASCS_Authenticate: return "开始身份认证...";
    case RASCS_AuthNotify: return "正在身份认证...";
    case RASCS_AuthProject: return "开始映射...";
    case RASCS_Authenticated: return "验证通过...";
    case RASCS_PasswordExpired: return "密码已经过期";
    default: return "连接中...";
  }
}

void StartDialServices() {
  // Both services must run for any dial; without administrator rights these fail
  // unnoticed and the dial reports the real error.
  static const struct {
    const char* program;
    const char* line;
  } kCommands[] = {
      {"sc.exe", "sc config TapiSrv start= AUTO"},
      {"sc.exe", "sc config RasMan start= AUTO"},
      {"net.exe", "net start TapiSrv"},
      {"net.exe", "net start RasMan"},
  };
  for (const auto& command : kCommands) RunSystemProgram(command.program, command.line, SW_HIDE);
}

namespace {

// The list entry as the build's Windows knows it: the Windows 7 service accepts the XP
// layout too, but an XP service refuses the larger one.
#ifdef TUNNEL_W7
typedef RasConnW7A ListEntry;
#else
typedef RASCONNA ListEntry;
#endif

// One query, no retry: a leftover's address is only told in the log.
bool QueryClientIp(HRASCONN conn, char* ipText, size_t ipTextSize) {
  RASPPPIPA ip;
  std::memset(&ip, 0, sizeof ip);
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  if (RasApi().GetProjectionInfo(conn, RASP_PppIp, &ip, &size) != 0) return false;
  ip.szIpAddress[sizeof ip.szIpAddress - 1] = '\0';
  CopyCut(ipText, ipTextSize, ip.szIpAddress);
  return ipText[0] != '\0';
}

}  // namespace

DWORD ListConnections(std::vector<ListedConnection>* connections) {
  connections->clear();
  HANDLE heap = GetProcessHeap();
  DWORD bytes = sizeof(ListEntry);
  DWORD allocated = 0;
  DWORD count = 0;
  DWORD code = ERROR_BUFFER_TOO_SMALL;
  ListEntry* entries = nullptr;
  for (int attempt = 0; attempt < 5 && code == ERROR_BUFFER_TOO_SMALL; ++attempt) {
    if (entries) HeapFree(heap, 0, entries);
    // Never less than one entry: the service reads the first entry's size field.
    if (bytes < sizeof(ListEntry)) bytes = sizeof(ListEntry);
    allocated = bytes;
    entries = static_cast<ListEntry*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, allocated));
    if (!entries) {
      code = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    entries[0].dwSize = sizeof(ListEntry);
    count = 0;
    code = RasApi().EnumConnections(reinterpret_cast<LPRASCONNA>(entries), &bytes, &count);
  }
  if (code == 0) {
    // The count comes from outside: never read past what was allocated.
    DWORD capacity = allocated / sizeof(ListEntry);
    if (count > capacity) count = capacity;
    for (DWORD i = 0; i < count; ++i) {
      ListEntry& e = entries[i];
      e.szEntryName[sizeof e.szEntryName - 1] = '\0';
      connections->push_back(ListedConnection{e.hrasconn, e.szEntryName});
    }
  }
  if (entries) HeapFree(heap, 0, entries);
  return code;
}

void HangUpAndWait(HRASCONN conn, int tries) {
  RasApi().HangUp(conn);
  for (int i = 0; i < tries; ++i) {
    RASCONNSTATUSA status;
    std::memset(&status, 0, sizeof status);
    status.dwSize = sizeof status;
    if (RasApi().GetConnectStatus(conn, &status) == ERROR_INVALID_HANDLE) return;
    Sleep(100);
  }
}

void HangUpLeftovers() {
  std::vector<ListedConnection> connections;
  // Dial-up services not running yet: then no connection of ours is up either.
  if (ListConnections(&connections) != 0) return;
  for (const ListedConnection& c : connections) {
    if (c.entryName != kEntryName) continue;
    char ip[16];
    if (!QueryClientIp(c.handle, ip, sizeof ip)) CopyCut(ip, sizeof ip, "未知");
    WriteLog("发现上次运行留下的加速连接（客户端IP：%s），已将其断开.\r\n", ip);
    HangUpAndWait(c.handle, 50);
  }
}
