#include "client/shell/one_client.h"

namespace {

// Global: the dial-up entry and the routing table are the machine's, so a client in another
// session would fight over them as much as one in this session.
const char kMutexName[] = "Global\\VelaVPN.Client";
const char kListenerClass[] = "VelaVPN.ClientListener";
const UINT kShowClient = WM_APP + 0x56;
// A first client that has not made its listener yet is still building its configuration
// (its downloads may take a while); the second gives up waiting well within ten seconds.
const DWORD kFindListenerMs = 8000;

void (*g_show)() = nullptr;

template <typename T>
T Bind(const char* module, const char* name) {
  HMODULE handle = GetModuleHandleA(module);
  return handle ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(handle, name)))
                : nullptr;
}

// The current directory leaves the DLL search (whoever starts the elevated client chooses
// it); where the system can, the search is the program's folder and system32 only, which
// also leaves out the folders of PATH. Bound at run time: XP before SP1 has neither call.
void HardenDllSearch() {
  typedef BOOL(WINAPI * PFN_SetDefaultDllDirectories)(DWORD);
  typedef BOOL(WINAPI * PFN_SetDllDirectoryA)(LPCSTR);
  const DWORD kApplicationDir = 0x00000200;  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR
  const DWORD kSystem32 = 0x00000800;        // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (auto setDefault =
          Bind<PFN_SetDefaultDllDirectories>("kernel32.dll", "SetDefaultDllDirectories"))
    setDefault(kApplicationDir | kSystem32);
  if (auto setDirectory = Bind<PFN_SetDllDirectoryA>("kernel32.dll", "SetDllDirectoryA"))
    setDirectory("");
}

void ShowFirstClient() {
  DWORD until = GetTickCount() + kFindListenerMs;
  for (;;) {
    // Made message-only; a window made while the desktop was still starting may have become
    // a hidden top-level one instead.
    HWND listener = FindWindowExA(HWND_MESSAGE, nullptr, kListenerClass, nullptr);
    if (!listener) listener = FindWindowA(kListenerClass, nullptr);
    if (listener) {
      DWORD pid = 0;
      GetWindowThreadProcessId(listener, &pid);
      // This process was just started by the user and may pass the foreground on.
      AllowSetForegroundWindow(pid);
      PostMessageA(listener, kShowClient, 0, 0);
      return;
    }
    if (static_cast<LONG>(until - GetTickCount()) <= 0) return;
    Sleep(200);
  }
}

LRESULT CALLBACK ListenerProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kShowClient) {
    if (g_show) g_show();
    return 0;
  }
  return DefWindowProcA(wnd, message, wParam, lParam);
}

}  // namespace

COneClient::COneClient() {
  HardenDllSearch();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  DWORD error = GetLastError();
  // Held until the process ends. A name that another account made and closed to us still
  // means a client is there.
  if (mutex && error != ERROR_ALREADY_EXISTS) return;
  ShowFirstClient();
  ExitProcess(0);
}

void COneClient::ListenForSecondStarts(void (*show)()) {
  g_show = show;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &ListenerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kListenerClass;
  RegisterClassA(&wc);
  CreateWindowExA(0, kListenerClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                  nullptr);
}
