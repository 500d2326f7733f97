// gui_driver.exe: the GUI driver's operations one per command, for scripts (the demo).
// Texts on the command line come in the ANSI code page (Wine converts them from the Unix
// locale); texts printed go out as UTF-8 for the terminal and the logs.
//
//   gui_driver wait-window [--pid N] [--class C] [--title T] [--timeout MS]   -> window handle
//   gui_driver wait-gone [--pid N] [--class C] [--title T] [--timeout MS]
//   gui_driver text WND ID                   (ID 0: the window itself)
//   gui_driver wait-text WND ID TEXT [MS]    (TEXT with a trailing '*': starts with)
//   gui_driver set-text WND ID TEXT
//   gui_driver click WND ID
//   gui_driver wait-enabled WND ID 0|1 [MS]
//   gui_driver combo WND ID                  items, the selected one marked '*'
//   gui_driver combo-select WND ID INDEX
//   gui_driver tree WND ID                   items with their data
//   gui_driver tree-select WND ID TEXT       first item whose text starts with TEXT
//   gui_driver msgbox [--pid N] [--timeout MS] [--answer ID]
//   gui_driver command WND ID                WM_COMMAND (menu command) posted to the window
//   gui_driver close WND                     WM_CLOSE posted
//   gui_driver screenshot FILE.bmp
//   gui_driver list                          every top-level window: handle, process, class, title
// Exit code 0 on success, 1 when the thing waited for did not come, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/gui_driver/gui_driver.h"

namespace {

const DWORD kDefaultTimeoutMs = 10000;

std::string ToUtf8(const std::string& ansi) {
  if (ansi.empty()) return ansi;
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  if (n <= 0) return ansi;
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &w[0], n);
  int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return ansi;
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], m, nullptr, nullptr);
  out.resize(static_cast<size_t>(m - 1));
  return out;
}

void Print(const std::string& ansi) {
  std::string line = ToUtf8(ansi) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

int Usage() {
  std::fprintf(stderr, "usage: gui_driver COMMAND ... (see the head of gui_driver_main.cpp)\n");
  return 2;
}

HWND ParseWnd(const char* s) {
  return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(s, nullptr, 16)));
}

HWND Control(const char* wnd, const char* id) {
  HWND root = ParseWnd(wnd);
  int n = std::atoi(id);
  return n == 0 ? root : gui::FindControl(root, n);
}

struct Options {
  gui::WindowQuery q;
  DWORD timeoutMs = kDefaultTimeoutMs;
  int answer = 0;
};

bool ParseOptions(int argc, char** argv, int from, Options* o) {
  for (int i = from; i < argc; ++i) {
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    if (!std::strcmp(argv[i - 1], "--pid")) o->q.pid = static_cast<DWORD>(std::strtoul(v, nullptr, 10));
    else if (!std::strcmp(argv[i - 1], "--class")) o->q.className = v;
    else if (!std::strcmp(argv[i - 1], "--title")) o->q.title = v;
    else if (!std::strcmp(argv[i - 1], "--timeout")) o->timeoutMs = static_cast<DWORD>(std::strtoul(v, nullptr, 10));
    else if (!std::strcmp(argv[i - 1], "--answer")) o->answer = std::atoi(v);
    else return false;
  }
  return true;
}

DWORD TimeoutArg(int argc, char** argv, int at) {
  return argc > at ? static_cast<DWORD>(std::strtoul(argv[at], nullptr, 10)) : kDefaultTimeoutMs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string cmd = argv[1];
  if (cmd == "wait-window" || cmd == "wait-gone") {
    Options o;
    if (!ParseOptions(argc, argv, 2, &o)) return Usage();
    if (cmd == "wait-gone") return gui::WaitNoTopWindow(o.q, o.timeoutMs) ? 0 : 1;
    HWND w = gui::WaitTopWindow(o.q, o.timeoutMs);
    if (!w) return 1;
    std::printf("%llx\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(w)));
    return 0;
  }
  if (cmd == "list") {
    gui::WindowQuery all;
    all.visibleOnly = false;
    for (HWND w : gui::TopWindows(all)) {
      char title[256];
      title[0] = '\0';
      GetWindowTextA(w, title, sizeof title);
      char handle[32];
      std::snprintf(handle, sizeof handle, "%llx",
                    static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(w)));
      Print(std::string(handle) + " pid " +
            std::to_string(gui::ProcessOf(w)) + (IsWindowVisible(w) ? " visible " : " hidden ") +
            gui::ClassOf(w) + " \"" + title + "\"");
    }
    return 0;
  }
  if (cmd == "msgbox") {
    Options o;
    if (!ParseOptions(argc, argv, 2, &o)) return Usage();
    gui::MessageBoxInfo box = gui::WaitMessageBox(o.q.pid, o.timeoutMs);
    if (!box.box) return 1;
    Print(box.caption);
    Print(box.text);
    if (o.answer && !gui::AnswerMessageBox(box.box, o.answer, o.timeoutMs)) return 1;
    return 0;
  }
  if (cmd == "screenshot") {
    if (argc != 3) return Usage();
    return gui::ScreenshotBmp(argv[2]) ? 0 : 1;
  }
  if (cmd == "close") {
    if (argc != 3) return Usage();
    return PostMessageA(ParseWnd(argv[2]), WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (argc < 4) return Usage();
  HWND c = Control(argv[2], argv[3]);
  if (cmd == "command") {
    return PostMessageA(ParseWnd(argv[2]), WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), 0), 0) ? 0 : 1;
  }
  if (!c) {
    std::fprintf(stderr, "no control %s in window %s\n", argv[3], argv[2]);
    return 1;
  }
  if (cmd == "text") {
    Print(gui::GetText(c));
    return 0;
  }
  if (cmd == "wait-text" && argc >= 5) {
    std::string want = argv[4];
    DWORD t = TimeoutArg(argc, argv, 5);
    bool ok = !want.empty() && want.back() == '*'
                  ? gui::WaitTextContains(c, want.substr(0, want.size() - 1), t)
                  : gui::WaitText(c, want, t);
    if (!ok) Print("seen: " + gui::GetText(c));
    return ok ? 0 : 1;
  }
  if (cmd == "set-text" && argc == 5) return gui::SetText(c, argv[4]) ? 0 : 1;
  if (cmd == "click") return gui::Click(c) ? 0 : 1;
  if (cmd == "wait-enabled" && argc >= 5) {
    return gui::WaitEnabled(c, std::atoi(argv[4]) != 0, TimeoutArg(argc, argv, 5)) ? 0 : 1;
  }
  if (cmd == "combo") {
    int sel = gui::ComboSelection(c);
    int i = 0;
    for (const std::string& item : gui::ComboItems(c)) {
      Print((i == sel ? "* " : "  ") + item);
      ++i;
    }
    return 0;
  }
  if (cmd == "combo-select" && argc == 5) return gui::ComboSelect(c, std::atoi(argv[4])) ? 0 : 1;
  if (cmd == "tree") {
    for (const gui::TreeItem& it : gui::TreeItems(c)) {
      Print(std::string(static_cast<size_t>(it.depth) * 2, ' ') + it.text + "  [" +
            std::to_string(static_cast<long long>(it.data)) + "]");
    }
    return 0;
  }
  if (cmd == "tree-select" && argc == 5) {
    std::string want = argv[4];
    for (const gui::TreeItem& it : gui::TreeItems(c)) {
      if (it.text.compare(0, want.size(), want) == 0) return gui::TreeSelect(c, it.item) ? 0 : 1;
    }
    std::fprintf(stderr, "no tree item starts with the text given\n");
    return 1;
  }
  return Usage();
}
