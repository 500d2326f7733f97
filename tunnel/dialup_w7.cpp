// Windows 7 build: the system's dial command does the dialing; the worker learns the
// outcome by looking at the active connections once per timer tick.
#include <cstring>

#include "common/command_runner.h"
#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/dialup.h"
#include "tunnel/module.h"
#include "tunnel/phonebook_guard.h"
#include "tunnel/ras_api.h"
#include "tunnel/worker.h"

#if defined(_WIN64)
static_assert(sizeof(RasConnW7A) == 724, "Windows 7 layout of the connection list entry");
#else
static_assert(sizeof(RasConnW7A) == 720, "Windows 7 layout of the connection list entry");
#endif
static_assert(sizeof(RASPPPIPA) == 48, "PPP IP projection");

namespace {

// The system's disconnect command last started here. Until it has ended, our entry is still
// listed: a dial command started meanwhile answers "already connected", dials nothing, and
// the page waits for a line that never comes up.
HANDLE g_hangUpCommand = nullptr;
// The system's command itself waits for the connection to go; past this it has hung.
const DWORD kHangUpWaitMs = 15000;

// Waits for the last disconnect command to end. False when a close or an exit came in
// meanwhile: a dial started now would only be hung up again.
bool WaitForHangUpCommand() {
  if (!g_hangUpCommand) return true;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(g_hangUpCommand, 100) == WAIT_TIMEOUT) {
    MSG queued;
    if (PeekMessageA(&queued, nullptr, WM_CORE_CLOSE, WM_CORE_EXIT, PM_NOREMOVE)) {
      WriteLog("等待上次断开连接时收到断开请求，拨号取消.\r\n");
      return false;
    }
    if (GetTickCount() - start >= kHangUpWaitMs) {
      WriteLog("上次的断开命令%u秒内未结束，继续拨号.\r\n",
               static_cast<unsigned>(kHangUpWaitMs / 1000));
      break;
    }
  }
  ForgetHangUpCommand();
  return true;
}

UINT RunDisconnectCommand() {
  std::string command = SystemProgramPath("rasdial.exe") + " " + kEntryName + " /DISCONNECT";
  ForgetHangUpCommand();
  g_hangUpCommand = StartSystemProgram("rasdial.exe", command.c_str(), SW_HIDE);
  // WinExec's meaning for the page: above 31 is started.
  return g_hangUpCommand ? 33 : 0;
}

}  // namespace

void ForgetHangUpCommand() {
  if (g_hangUpCommand) CloseHandle(g_hangUpCommand);
  g_hangUpCommand = nullptr;
}

DWORD Dial(const char* serverHost, const char* userName, const char* password, HRASCONN*) {
  std::string phonebook = PhonebookPath(0);
  if (phonebook.empty()) {
    if (CWorker* worker = g_pRunningWorker)
      worker->PostThreadMessage(WM_CORE_ERROR, ERROR_CANNOT_OPEN_PHONEBOOK, 0);
    return ERROR_CANNOT_OPEN_PHONEBOOK;
  }
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
  if (DWORD refused = RefusePhonebookLibrary(phonebook)) return refused;
  if (!WaitForHangUpCommand()) return 0;
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
  UINT started = RunDisconnectCommand();
  CWorker* worker = g_pRunningWorker;
  if (worker) worker->PostThreadMessage(WM_CORE_DISCONNECTED, started, 0);
  return 1;
}

int PollConnection(HRASCONN* conn, char* ipText, size_t ipTextSize) {
  std::vector<ListedConnection> connections;
  DWORD code = ListConnections(&connections);
  if (code != 0) {
    WriteLog("RasEnumConnections failed: Error = %d\r\n", static_cast<int>(code));
    return -1;
  }
  int found = 0;
  for (const ListedConnection& c : connections) {
    if (c.entryName != kEntryName) continue;
    if (FetchClientIp(c.handle, ipText, ipTextSize)) {
      *conn = c.handle;
      found = 1;
    }
  }
  return found;
}

void AbandonDial() { RunDisconnectCommand(); }
