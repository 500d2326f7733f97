// Windows XP build: the dial-up service's programming interface, driven directly.

#include <cstring>

#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/dialup.h"
#include "tunnel/module.h"
#include "tunnel/phonebook_guard.h"
#include "tunnel/ras_api.h"
#include "tunnel/worker.h"

#if !defined(_WIN64)
static_assert(sizeof(RASENTRYA) == 2884, "Windows XP layout of the phonebook entry");
static_assert(sizeof(RASDIALPARAMSA) == 1060, "dial parameters with sub-entry and callback id");
#endif
static_assert(sizeof(RASPPPIPA) == 48, "PPP IP projection");
#if !defined(_WIN64)
static_assert(sizeof(RASCONNSTATUSA) == 288, "connection status, Windows XP layout");
#endif

namespace {

LONG g_nPhonebookSerial = 0;

void PostToWorker(UINT message, WPARAM wParam, LPARAM lParam) {
  CWorker* worker = g_pRunningWorker;
  if (worker) worker->PostThreadMessage(message, wParam, lParam);
}

// Runs on a thread of the dial-up service; it may only touch the status text and post.
DWORD WINAPI DialProgress(ULONG_PTR, DWORD, HRASCONN, UINT, RASCONNSTATE state, DWORD error,
                          DWORD) {
  if (!g_pRunningWorker) return 1;
  if (error != 0) {
    PostToWorker(WM_CORE_ERROR, error, 0);
  } else if (state == RASCS_Connected) {
    PostToWorker(WM_CORE_CONNECTED, 0, 0);
  } else if (state == RASCS_Disconnected) {
    PostToWorker(WM_CORE_DISCONNECTED, 0, 0);
  } else {
    // The texts are fixed: their own address travels, so the window never reads a buffer
    // that this thread is rewriting for the next state.
    PostToWorker(WM_CORE_STATUS, state, reinterpret_cast<LPARAM>(DialStateText(state)));
  }
  return 1;
}

void FillEntry(RASENTRYA* entry, const char* serverHost) {
  std::memset(entry, 0, sizeof *entry);
  entry->dwSize = sizeof *entry;
  entry->dwfOptions = 0;  // above all: not the default route
  CopyCut(entry->szLocalPhoneNumber, sizeof entry->szLocalPhoneNumber, serverHost);
  entry->dwfNetProtocols = RASNP_NetBEUI | RASNP_Ipx | RASNP_Ip;
  entry->dwFramingProtocol = RASFP_Ppp;
  CopyCut(entry->szDeviceType, sizeof entry->szDeviceType, RASDT_Vpn);
  CopyCut(entry->szDeviceName, sizeof entry->szDeviceName, "RAS VPN Line 0");
  entry->dwType = RASET_Vpn;
  entry->dwVpnStrategy = VS_PptpFirst;
  entry->dwRedialCount = 3;
}

void FillDialParams(RASDIALPARAMSA* params, const char* userName, const char* password) {
  std::memset(params, 0, sizeof *params);
  params->dwSize = sizeof *params;
  CopyCut(params->szEntryName, sizeof params->szEntryName, kEntryName);
  CopyCut(params->szUserName, sizeof params->szUserName, userName);
  CopyCut(params->szPassword, sizeof params->szPassword, password);
}

}  // namespace

DWORD Dial(const char* serverHost, const char* userName, const char* password, HRASCONN* conn) {
  *conn = nullptr;
  RASENTRYA entry;
  FillEntry(&entry, serverHost);
  RASDIALPARAMSA params;
  FillDialParams(&params, userName, password);
  for (int attempt = 0;;) {
    // Every attempt gets a phonebook of its own: a file the service still holds from an
    // attempt it has not let go of is what makes it answer 756.
    std::string phonebook = PhonebookPath(InterlockedIncrement(&g_nPhonebookSerial));
    DWORD code = phonebook.empty()
                     ? ERROR_CANNOT_OPEN_PHONEBOOK
                     : RasApi().SetEntryProperties(phonebook.c_str(), kEntryName, &entry, sizeof entry);
    if (code != 0) {
      WriteLog("拨号参数初始化失败！\r\n");
      PostToWorker(WM_CORE_ERROR, code, 0);
      return code;
    }
    if ((code = RefusePhonebookLibrary(phonebook)) != 0) return code;
    code = RasApi().Dial(phonebook.c_str(), &params, 2, reinterpret_cast<LPVOID>(&DialProgress),
                         conn);
    if (code == 0) return 0;
    // A failed dial may still have handed out a handle, which holds the port until it is
    // hung up: one cause of the next attempt's 756.
    if (*conn) ReleaseFailedDial(conn);
    if (code == ERROR_DIAL_ALREADY_IN_PROGRESS) {
      WriteLog("拨号错误，重试！\r\n");
      if (++attempt < 10) continue;
    }
    WriteLog("拨号错误，重试10次后仍然失败，请重启电脑再试试！\r\n");
    PostToWorker(WM_CORE_ERROR, code, 0);
    return code;
  }
}

int FetchClientIp(HRASCONN conn, char* ipText, size_t ipTextSize) {
  RASPPPIPA ip;
  std::memset(&ip, 0, sizeof ip);
  ip.dwSize = sizeof ip;
  DWORD size = sizeof ip;
  if (RasApi().GetProjectionInfo(conn, RASP_PppIp, &ip, &size) != 0) {
    WriteLog("获取客户端PPP IP地址失败.\r\n");
    return 0;
  }
  ip.szIpAddress[sizeof ip.szIpAddress - 1] = '\0';
  WriteLog("客户端PPP IP地址: %s\r\n", ip.szIpAddress);
  CopyCut(ipText, ipTextSize, ip.szIpAddress);
  return 1;
}

void ReleaseFailedDial(HRASCONN* conn) {
  HangUpAndWait(*conn, 200);
  *conn = nullptr;
}

bool ConnectionAlive(HRASCONN conn) {
  RASCONNSTATUSA status;
  std::memset(&status, 0, sizeof status);
  status.dwSize = sizeof status;
  if (RasApi().GetConnectStatus(conn, &status) != 0) return false;
  return status.rasconnstate != RASCS_Disconnected && status.dwError == 0;
}

int HangUp(HRASCONN* conn) {
  RasApi().HangUp(*conn);
  for (int i = 0; i < 200; ++i) {
    RASCONNSTATUSA status;
    std::memset(&status, 0, sizeof status);
    status.dwSize = sizeof status;
    if (RasApi().GetConnectStatus(*conn, &status) == ERROR_INVALID_HANDLE) {
      *conn = nullptr;
      WriteLog("关闭连接成功!\r\n");
      PostToWorker(WM_CORE_DISCONNECTED, 0, 0);
      return 1;
    }
    Sleep(100);
  }
  PostToWorker(WM_CORE_DISCONNECTED, 1, 0);
  WriteLog("关闭连接时超时.\r\n");
  return 0;
}
