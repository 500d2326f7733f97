// IpCollect.dll: the application object, the process-wide collector and the one export.
#include <winsock2.h>
#include <windows.h>

#include "collector/ip_collector.h"

namespace {

// Starts Windows Sockets 1.1 when the library is loaded; a failure fails the load, so the
// program's LoadLibraryA returns null and it goes on without the collector.
class CIpCollectApp {
 public:
  bool InitInstance() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) == 0) {
      if (wsa.wVersion == MAKEWORD(1, 1)) {
        m_socketsStarted = true;
        return true;
      }
      WSACleanup();
    }
    MessageBoxA(nullptr, "无法启动 Windows Sockets 1.1，游戏IP收集不能运行。", "IpCollect",
                MB_OK | MB_ICONERROR);
    return false;
  }
  void ExitInstance(bool processEnding) {
    // At process exit other threads are already gone and Winsock may be torn down first.
    if (m_socketsStarted && !processEnding) WSACleanup();
    m_socketsStarted = false;
  }

 private:
  bool m_socketsStarted = false;
};

CIpCollectApp theApp;
// Constructed when the library is loaded, destroyed when it is unloaded.
IpCollector theCollector;

DWORD WINAPI CollectorThread(LPVOID param) {
  theCollector.RunWorker(static_cast<HWND>(param));
  return 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) return theApp.InitInstance() ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH) theApp.ExitInstance(reserved != nullptr);
  return TRUE;
}

// Starts the collector's worker with its notify window (null: no notifications) and
// returns its thread, or null when it could not start. Called once per process.
extern "C" HANDLE WINAPI DllStartWorker(HWND notify) {
  DWORD id = 0;
  return CreateThread(nullptr, 0, CollectorThread, notify, 0, &id);
}
