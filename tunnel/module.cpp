// Module start-up, module-wide state and the six exports.
#include "tunnel/module.h"

#include <winsock2.h>

#include <cstring>

#include "common/command_runner.h"
#include "common/protected_dir.h"
#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/ras_api.h"
#include "tunnel/tunnel_api.h"
#include "tunnel/worker.h"

char g_szHostDir[kHostDirSize];
char g_szClientIp[kClientIpSize];
char g_szErrorText[kErrorTextSize];
volatile LONG g_lTickPending = 0;
CWorker* g_pWorker = nullptr;
CWorker* volatile g_pRunningWorker = nullptr;

namespace {

// StartConnect runs on the host's thread while the worker may be copying the previous
// values; the lock keeps a second call from tearing a copy in progress.
CRITICAL_SECTION g_paramsLock;
ConnectParams g_params;

struct CModuleStartup {
  CModuleStartup() {
    InitializeCriticalSection(&g_paramsLock);
    g_params.reservedNumber = 0;
    char exe[kHostDirSize];
    DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    char* slash = (n > 0 && n < sizeof exe) ? std::strrchr(exe, '\\') : nullptr;
    // Without the host's own folder there is no folder of ours: the current directory
    // would be whoever started the elevated client's choice. No log, and no phonebook.
    if (!slash || slash == exe) return;
    *slash = '\0';
    CopyCut(g_szHostDir, sizeof g_szHostDir, exe);
    std::string cache = std::string(g_szHostDir) + "\\Cache";
    DWORD attrs = GetFileAttributesA(cache.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY))
      CreateProtectedDirectory(cache.c_str());
    CRunLog::SetPath((cache + "\\run.log").c_str());
  }
  ~CModuleStartup() { DeleteCriticalSection(&g_paramsLock); }
};

// Declared in this order: the path is set before the run log's start-up size check.
CModuleStartup g_startup;
CRunLog g_runLog;

const char* OrEmpty(const char* s) { return s ? s : ""; }

bool PostToWorker(UINT message, WPARAM wParam, LPARAM lParam) {
  CWorker* worker = g_pWorker;
  if (!worker || !worker->ThreadHandle()) {
    WriteLog("没有工作线程，无法发送工作线程消息！\r\n");
    return false;
  }
  return worker->PostThreadMessage(message, wParam, lParam) != FALSE;
}

}  // namespace

ConnectParams CopyConnectParams() {
  EnterCriticalSection(&g_paramsLock);
  ConnectParams copy = g_params;
  LeaveCriticalSection(&g_paramsLock);
  return copy;
}

void StoreConnectParams(const ConnectParams& params) {
  EnterCriticalSection(&g_paramsLock);
  g_params = params;
  LeaveCriticalSection(&g_paramsLock);
}

std::string PhonebookPath(int serial) {
  // An empty name would be the system's own phonebook.
  if (g_szHostDir[0] == '\0') return std::string();
  return Format("%s\\cache\\velanet_%d.pbk", g_szHostDir, serial);
}

extern "C" {

int WINAPI InitCoreApi(HWND hUiWnd) {
  CWorker* worker = new CWorker();
  g_pWorker = worker;
  // The host unloads the module as soon as UninitCoreApi returns, which may be before a
  // slow hang-up has finished: the thread keeps its own reference on the module and
  // gives it up with its last instruction.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&InitCoreApi), &self);
  if (!worker->CreateThread(THREAD_PRIORITY_NORMAL, self) && self) FreeLibrary(self);
  Sleep(1000);
  if (hUiWnd) PostToWorker(WM_CORE_SETWND, 0, reinterpret_cast<LPARAM>(hUiWnd));
  return 0;
}

int WINAPI UninitCoreApi() {
  PostToWorker(WM_CORE_EXIT, 0, 0);
  CWorker* worker = g_pWorker;
  if (worker) WaitForSingleObject(worker->ExitEvent(), 3000);
  return 0;
}

int WINAPI StartConnect(const char* serverHost, const char* serverName, const char* reserved,
                        const char* userName, const char* password, int reservedNumber) {
  ConnectParams params;
  params.serverHost = OrEmpty(serverHost);
  params.serverName = OrEmpty(serverName);
  params.reserved = OrEmpty(reserved);
  params.userName = OrEmpty(userName);
  params.password = OrEmpty(password);
  params.reservedNumber = reservedNumber;
  StoreConnectParams(params);
  PostToWorker(WM_CORE_START, 0, 0);
  return 0;
}

int WINAPI CloseConnect() {
  PostToWorker(WM_CORE_CLOSE, 0, 0);
  return 0;
}

int WINAPI TimerNotification() {
  // One tick at a time: while one is queued or running, a further one is dropped rather
  // than queued, so a close or an exit never waits behind a pile of ticks and the tick
  // count of a dial keeps counting ticks the worker really ran.
  if (InterlockedCompareExchange(&g_lTickPending, 1, 0) != 0) return 0;
  if (!PostToWorker(WM_CORE_TIMER, 0, 0)) InterlockedExchange(&g_lTickPending, 0);
  return 0;
}

int WINAPI GetConnectionIp() {
  if (g_szClientIp[0] == '\0') return 0;
  unsigned long addr = inet_addr(g_szClientIp);
  return addr == INADDR_NONE ? 0 : static_cast<int>(addr);
}

#ifdef TUNNEL_TEST_HOOKS
// Test builds only: put scripted stand-ins for the dial-up service and for WinExec in
// place before InitCoreApi.
__declspec(dllexport) void TunnelTestSetSeams(IRasApi* ras, ICommandRunner* runner) {
  SetRasApi(ras);
  SetCommandRunner(runner);
}

// Whether a tick is queued or running, so that a test can pace its ticks like a page whose
// ticks come a second apart.
__declspec(dllexport) LONG TunnelTestTickPending() { return g_lTickPending; }
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // On an unload by FreeLibrary the worker has ended: it held the module until then.
  // At process exit (reserved non-null) other threads are gone mid-step; leave them be.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && g_pWorker) {
    delete g_pWorker;
    g_pWorker = nullptr;
  }
  return TRUE;
}

}  // extern "C"
