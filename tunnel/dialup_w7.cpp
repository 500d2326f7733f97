// Windows 7 build: the system's dial command does the dialing; the worker learns the
// outcome by looking at the active connections once per timer tick.
#include <cstring>

#include "common/command_runner.h"
#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/dialup.h"
#include "tunnel/module.h"
#include "tunnel/ras_api.h"
#include "tunnel/worker.h"

#if defined(_WIN64)
static_assert(sizeof(RasConnW7A) == 724, "Windows 7 layout of the connection list entry");
#else
static_assert(sizeof(RasConnW7A) == 720, "Windows 7 layout of the connection list entry");
#endif
static_assert(sizeof(RASPPPIPA) == 48, "PPP IP projection");

DWORD Dial(const char* serverHost, const char* userName, const char* password, HRASCONN*) {
  std::string phonebook = PhonebookPath(0);
  // User name and password are the account's: quoted, so a blank or a quote in them
  // cannot split or alter the command's arguments.
  std::string user, pass, host, book;
  // The login code comes from an answer nobody authenticated: a value rasdial would obey
  // as a switch is not dialled at all.
  if (IsRasdialSwitch(userName) || IsRasdialSwitch(password)) {
    WriteLog("拨号参数会被当作拨号命令的开关，拨号命令未执行！\r\n");
    if (CWorker* worker = g_pRunningWorker)
      worker->PostThreadMessage(WM_CORE_ERROR, ERROR_INVALID_PARAMETER, 0);
    return ERROR_INVALID_PARAMETER;
  }
  if (!QuoteCommandArg(userName, &user) || !QuoteCommandArg(password, &pass) ||
      !QuoteCommandArg(serverHost, &host) || !QuoteCommandArg(phonebook, &book)) {
    // rasdial would split such a value into further arguments of its own.
    WriteLog("拨号参数含有不完整的汉字编码，拨号命令未执行！\r\n");
    if (CWorker* worker = g_pRunningWorker)
      worker->PostThreadMessage(WM_CORE_ERROR, ERROR_INVALID_PARAMETER, 0);
    return ERROR_INVALID_PARAMETER;
  }
  std::string command = "\"" + SystemProgramPath("rasdial.exe") + "\" " + kEntryName + " " + user +
                        " " + pass + " /phone:" + host + " /phonebook:" + book;
  RunSystemProgram("rasdial.exe", command.c_str(), SW_HIDE);
  return 0;
}

int FetchClientIp(HRASCONN conn, char* ipText, size_t ipTextSize) {
  DWORD code = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    RASPPPIPA ip;
    std::memset(&ip, 0, sizeof ip);
    ip.dwSize = sizeof ip;
    DWORD size = sizeof ip;
    code = RasApi().GetProjectionInfo(conn, RASP_PppIp, &ip, &size);
    if (code == 0) {
      ip.szIpAddress[sizeof ip.szIpAddress - 1] = '\0';
      WriteLog("客户端PPP IP地址: %s\r\n", ip.szIpAddress);
      CopyCut(ipText, ipTextSize, ip.szIpAddress);
      return 1;
    }
    Sleep(1000);
  }
  WriteLog("获取客户端PPP IP地址失败(%d).\r\n", static_cast<int>(code));
  return 0;
}

int HangUp(HRASCONN*) {
  std::string command = SystemProgramPath("rasdial.exe") + " " + kEntryName + " /DISCONNECT";
  UINT started = RunSystemProgram("rasdial.exe", command.c_str(), SW_HIDE);
  CWorker* worker = g_pRunningWorker;
  if (worker) worker->PostThreadMessage(WM_CORE_DISCONNECTED, started, 0);
  return 1;
}

int PollConnection(HRASCONN* conn, char* ipText, size_t ipTextSize) {
  HANDLE heap = GetProcessHeap();
  DWORD bytes = sizeof(RasConnW7A);
  DWORD allocated = 0;
  DWORD count = 0;
  DWORD code = ERROR_BUFFER_TOO_SMALL;
  RasConnW7A* conns = nullptr;
  for (int attempt = 0; attempt < 5 && code == ERROR_BUFFER_TOO_SMALL; ++attempt) {
    if (conns) HeapFree(heap, 0, conns);
    // Never less than one entry: the service reads the first entry's size field.
    if (bytes < sizeof(RasConnW7A)) bytes = sizeof(RasConnW7A);
    allocated = bytes;
    conns = static_cast<RasConnW7A*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, allocated));
    if (!conns) {
      code = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    conns[0].dwSize = sizeof(RasConnW7A);
    count = 0;
    code = RasApi().EnumConnections(conns, &bytes, &count);
  }
  int found = 0;
  if (code != 0) {
    WriteLog("RasEnumConnections failed: Error = %d\r\n", static_cast<int>(code));
  } else {
    // The count comes from outside: never read past what was allocated.
    DWORD capacity = allocated / sizeof(RasConnW7A);
    if (count > capacity) count = capacity;
    for (DWORD i = 0; i < count; ++i) {
      RasConnW7A& c = conns[i];
      c.szEntryName[sizeof c.szEntryName - 1] = '\0';
      if (std::strcmp(c.szEntryName, kEntryName) != 0) continue;
      if (FetchClientIp(c.hrasconn, ipText, ipTextSize)) {
        *conn = c.hrasconn;
        found = 1;
      }
    }
  }
  if (conns) HeapFree(heap, 0, conns);
  return found;
}
