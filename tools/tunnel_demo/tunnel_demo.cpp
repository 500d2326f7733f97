// Drives one tunnel module the way the client's acceleration page does: init with a
// window, connect to a line, tick every second, show every message, hold the connection a
// moment, disconnect, uninit and unload. Used by the demo script until the client runs
// its own acceleration.
//
//   tunnel_demo.exe <module.dll> <line host> <user> <password> [hold ms]
#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tunnel/tunnel_api.h"

namespace {

const UINT_PTR kTickTimer = 1;
const UINT_PTR kHoldTimer = 2;
const UINT_PTR kGiveUpTimer = 3;
const UINT_PTR kEndTimer = 4;

struct Demo {
  HMODULE module = nullptr;
  PFN_InitCoreApi init = nullptr;
  PFN_UninitCoreApi uninit = nullptr;
  PFN_StartConnect start = nullptr;
  PFN_CloseConnect close = nullptr;
  PFN_TimerNotification tick = nullptr;
  PFN_GetConnectionIp getIp = nullptr;
  HWND list = nullptr;
  DWORD holdMs = 3000;
  int result = 3;  // gave up
} g;

std::string GbkToUtf8(const std::string& gbk) {
  int n = MultiByteToWideChar(936, 0, gbk.c_str(), -1, nullptr, 0);
  if (n <= 0) return gbk;
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, gbk.c_str(), -1, &w[0], n);
  int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], m, nullptr, nullptr);
  out.resize(static_cast<size_t>(m - 1));
  return out;
}

void Show(const std::string& gbk) {
  SendMessageA(g.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(gbk.c_str()));
  std::string line = GbkToUtf8(gbk) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

template <typename T>
T Bind(const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(g.module, name)));
}

// Leaves the window up a moment, so that the last state can be seen (and photographed).
void Finish(HWND wnd, int result) {
  g.result = result;
  KillTimer(wnd, kTickTimer);
  KillTimer(wnd, kGiveUpTimer);
  Show("FINISHED");
  SetTimer(wnd, kEndTimer, g.holdMs, nullptr);
}

LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  char text[1200];
  switch (msg) {
    case WM_TUNNEL_DIALING:
      Show("WM_TUNNEL_DIALING: 开始拨号");
      return 0;
    case WM_TUNNEL_STATUS:
      std::snprintf(text, sizeof text, "WM_TUNNEL_STATUS %u: %s", static_cast<unsigned>(w),
                    l ? reinterpret_cast<const char*>(l) : "");
      Show(text);
      return 0;
    case WM_TUNNEL_CONNECTED: {
      in_addr a;
      a.s_addr = static_cast<u_long>(g.getIp());
      std::snprintf(text, sizeof text, "WM_TUNNEL_CONNECTED: %s (GetConnectionIp %s)",
                    l ? reinterpret_cast<const char*>(l) : "", inet_ntoa(a));
      Show(text);
      Show("CONNECTED");
      SetTimer(wnd, kHoldTimer, g.holdMs, nullptr);
      return 0;
    }
    case WM_TUNNEL_ERROR:
      std::snprintf(text, sizeof text, "WM_TUNNEL_ERROR %u: %s", static_cast<unsigned>(w),
                    l ? reinterpret_cast<const char*>(l) : "(0)");
      Show(text);
      if (l) Finish(wnd, 2);  // the report with the system's text is the last one
      return 0;
    case WM_TUNNEL_CLOSING:
      Show("WM_TUNNEL_CLOSING: 正在断开");
      return 0;
    case WM_TUNNEL_DISCONNECTED:
      std::snprintf(text, sizeof text, "WM_TUNNEL_DISCONNECTED %u, %ld", static_cast<unsigned>(w),
                    static_cast<long>(l));
      Show(text);
      Finish(wnd, g.result == 3 ? 0 : g.result);
      return 0;
    case WM_TIMER:
      if (w == kTickTimer) g.tick();
      if (w == kHoldTimer) {
        KillTimer(wnd, kHoldTimer);
        g.result = 0;
        g.close();
      }
      if (w == kEndTimer) DestroyWindow(wnd);
      if (w == kGiveUpTimer) {
        Show("no answer from the tunnel module in time");
        Finish(wnd, 3);
      }
      return 0;
    case WM_SIZE:
      MoveWindow(g.list, 8, 8, LOWORD(l) - 16, HIWORD(l) - 16, TRUE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(wnd, msg, w, l);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: tunnel_demo <module.dll> <host> <user> <password> [hold ms]\n");
    return 64;
  }
  if (argc > 5) g.holdMs = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 10));
  g.module = LoadLibraryA(argv[1]);
  if (!g.module) {
    std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 65;
  }
  g.init = Bind<PFN_InitCoreApi>("InitCoreApi");
  g.uninit = Bind<PFN_UninitCoreApi>("UninitCoreApi");
  g.start = Bind<PFN_StartConnect>("StartConnect");
  g.close = Bind<PFN_CloseConnect>("CloseConnect");
  g.tick = Bind<PFN_TimerNotification>("TimerNotification");
  g.getIp = Bind<PFN_GetConnectionIp>("GetConnectionIp");
  if (!g.init || !g.uninit || !g.start || !g.close || !g.tick || !g.getIp) {
    std::fprintf(stderr, "%s lacks one of the six exports\n", argv[1]);
    return 66;
  }

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "TunnelDemo";
  RegisterClassA(&wc);
  std::string title = std::string("隧道模块演示 - ") + argv[1];
  HWND wnd = CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 640,
                             360, nullptr, nullptr, wc.hInstance, nullptr);
  g.list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0,
                           0, 0, 0, wnd, nullptr, wc.hInstance, nullptr);
  SendMessageA(g.list, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  ShowWindow(wnd, SW_SHOW);
  RECT rc;
  GetClientRect(wnd, &rc);
  SendMessageA(wnd, WM_SIZE, 0, MAKELPARAM(rc.right, rc.bottom));

  g.init(wnd);
  Show(std::string("StartConnect ") + argv[2]);
  g.start(argv[2], "演示线路", "", argv[3], argv[4], 0);
  SetTimer(wnd, kTickTimer, 1000, nullptr);
  SetTimer(wnd, kGiveUpTimer, 60000, nullptr);

  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  g.uninit();
  FreeLibrary(g.module);
  return g.result;
}
