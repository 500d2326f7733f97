#include "tools/gui_driver/gui_driver.h"

#include <commctrl.h>

#include <cstring>

namespace gui {
namespace {

const DWORD kPollMs = 50;
// A single message to a target that is alive answers in far less; a target that takes
// longer is hung as far as the driver is concerned.
const DWORD kSendTimeoutMs = 5000;
const size_t kMaxText = 65536;

bool Send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &r)) return false;
  if (result) *result = r;
  return true;
}

// Runs `check` every kPollMs until it returns true or the time is up; one last check at the
// end, so that a zero time-out is a plain test.
template <typename F>
bool Poll(DWORD timeoutMs, F check) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (check()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

struct TopSearch {
  const WindowQuery* q;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<TopSearch*>(lp);
  const WindowQuery& q = *s->q;
  if (q.visibleOnly && !IsWindowVisible(w)) return TRUE;
  if (q.pid && ProcessOf(w) != q.pid) return TRUE;
  if (q.className && ClassOf(w) != q.className) return TRUE;
  // Top-level windows of other processes: GetWindowText reads the text the system keeps,
  // without sending anything to a possibly busy owner.
  if (q.title) {
    char buf[512];
    buf[0] = '\0';
    GetWindowTextA(w, buf, sizeof buf);
    buf[sizeof buf - 1] = '\0';
    if (std::strcmp(buf, q.title) != 0) return TRUE;
  }
  s->found.push_back(w);
  return TRUE;
}

struct ChildSearch {
  int id;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK FindChild(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<ChildSearch*>(lp);
  if (GetDlgCtrlID(w) != s->id) return TRUE;
  if (s->visibleOnly && !IsWindowVisible(w)) return TRUE;
  s->found = w;
  return FALSE;
}

BOOL CALLBACK CollectChildren(HWND w, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(w);
  return TRUE;
}

std::string Ansi(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// A block of the target's memory for the tree messages, freed with the object.
class RemoteBlock {
 public:
  RemoteBlock(HWND owner, size_t size) : m_process(nullptr), m_base(nullptr) {
    m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                            ProcessOf(owner));
    if (m_process) {
      m_base = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
  }
  ~RemoteBlock() {
    if (m_base) VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE);
    if (m_process) CloseHandle(m_process);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool Ok() const { return m_base != nullptr; }
  char* Base() const { return static_cast<char*>(m_base); }
  bool Write(size_t offset, const void* data, size_t n) {
    SIZE_T done = 0;
    return WriteProcessMemory(m_process, Base() + offset, data, n, &done) && done == n;
  }
  bool Read(size_t offset, void* data, size_t n) {
    SIZE_T done = 0;
    return ReadProcessMemory(m_process, Base() + offset, data, n, &done) && done == n;
  }

 private:
  HANDLE m_process;
  void* m_base;
};

const size_t kTreeTextCap = 1024;

bool ReadTreeItem(HWND tree, RemoteBlock& block, HANDLE item, TreeItem* out) {
  TVITEMA tv;
  std::memset(&tv, 0, sizeof tv);
  tv.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_PARAM;
  tv.hItem = static_cast<HTREEITEM>(item);
  tv.pszText = block.Base() + sizeof tv;
  tv.cchTextMax = static_cast<int>(kTreeTextCap);
  char zero = '\0';
  DWORD_PTR ok = 0;
  if (!block.Write(0, &tv, sizeof tv) || !block.Write(sizeof tv, &zero, 1)) return false;
  if (!Send(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.Base()), &ok) || !ok) return false;
  char text[kTreeTextCap + 1];
  if (!block.Read(0, &tv, sizeof tv) || !block.Read(sizeof tv, text, kTreeTextCap)) return false;
  text[kTreeTextCap] = '\0';  // the target's memory is not trusted to hold a terminator
  out->item = item;
  out->text = text;
  out->data = tv.lParam;
  return true;
}

HANDLE TreeNext(HWND tree, WPARAM how, HANDLE from) {
  DWORD_PTR r = 0;
  if (!Send(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from), &r)) return nullptr;
  return reinterpret_cast<HANDLE>(r);
}

void WalkTree(HWND tree, RemoteBlock& block, HANDLE first, int depth,
              std::vector<TreeItem>* out) {
  // Bounded: a tree that answers with a cycle must not hang the driver.
  for (HANDLE it = first; it && out->size() < 10000; it = TreeNext(tree, TVGN_NEXT, it)) {
    TreeItem ti;
    if (!ReadTreeItem(tree, block, it, &ti)) return;
    ti.depth = depth;
    out->push_back(ti);
    WalkTree(tree, block, TreeNext(tree, TVGN_CHILD, it), depth + 1, out);
  }
}

bool IsMessageBox(HWND w) {
  if (ClassOf(w) != "#32770" || !IsWindowVisible(w)) return false;
  std::vector<HWND> kids;
  EnumChildWindows(w, CollectChildren, reinterpret_cast<LPARAM>(&kids));
  bool hasText = false;
  for (HWND k : kids) {
    std::string c = ClassOf(k);
    if (c != "Button" && c != "Static") return false;
    if (c == "Static" && (GetDlgCtrlID(k) & 0xFFFF) == 0xFFFF) hasText = true;
  }
  return hasText;
}

HWND MessageText(HWND box) {
  std::vector<HWND> kids;
  EnumChildWindows(box, CollectChildren, reinterpret_cast<LPARAM>(&kids));
  for (HWND k : kids) {
    if (ClassOf(k) == "Static" && (GetDlgCtrlID(k) & 0xFFFF) == 0xFFFF) return k;
  }
  return nullptr;
}

}  // namespace

std::string ClassOf(HWND w) {
  char buf[256];
  int n = GetClassNameA(w, buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

DWORD ProcessOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

std::vector<HWND> TopWindows(const WindowQuery& q) {
  TopSearch s{&q, {}};
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND WaitTopWindow(const WindowQuery& q, DWORD timeoutMs) {
  HWND found = nullptr;
  Poll(timeoutMs, [&] {
    std::vector<HWND> all = TopWindows(q);
    if (!all.empty()) found = all.front();
    return found != nullptr;
  });
  return found;
}

bool WaitNoTopWindow(const WindowQuery& q, DWORD timeoutMs) {
  return Poll(timeoutMs, [&] { return TopWindows(q).empty(); });
}

HWND FindControl(HWND root, int id) {
  if (!root) return nullptr;
  // The visible one first: hidden pages of a frame may reuse the ids of the page shown.
  ChildSearch s{id, true, nullptr};
  EnumChildWindows(root, FindChild, reinterpret_cast<LPARAM>(&s));
  if (s.found) return s.found;
  s.visibleOnly = false;
  EnumChildWindows(root, FindChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND WaitControl(HWND root, int id, DWORD timeoutMs) {
  HWND found = nullptr;
  Poll(timeoutMs, [&] { return (found = FindControl(root, id)) != nullptr; });
  return found;
}

std::string GetText(HWND w) {
  DWORD_PTR len = 0;
  if (!w || !Send(w, WM_GETTEXTLENGTH, 0, 0, &len)) return std::string();
  if (len > kMaxText) len = kMaxText;
  // The length may be counted in characters of another encoding: room for two bytes each.
  std::vector<char> buf(len * 2 + 2, '\0');
  DWORD_PTR got = 0;
  if (!Send(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), &got)) {
    return std::string();
  }
  buf.back() = '\0';
  return std::string(buf.data());
}

bool SetText(HWND w, const std::string& text) {
  DWORD_PTR ok = 0;
  return w && Send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &ok) && ok;
}

bool WaitText(HWND w, const std::string& text, DWORD timeoutMs) {
  return Poll(timeoutMs, [&] { return GetText(w) == text; });
}

bool WaitTextContains(HWND w, const std::string& part, DWORD timeoutMs) {
  return Poll(timeoutMs, [&] { return GetText(w).find(part) != std::string::npos; });
}

bool IsEnabled(HWND w) { return w && IsWindowEnabled(w); }
bool IsVisible(HWND w) { return w && IsWindowVisible(w); }

bool WaitEnabled(HWND w, bool enabled, DWORD timeoutMs) {
  return Poll(timeoutMs, [&] { return IsEnabled(w) == enabled; });
}

bool Click(HWND button) {
  if (!button || !IsWindowEnabled(button) || !IsWindowVisible(button)) return false;
  HWND parent = GetParent(button);
  if (!parent) return false;
  WPARAM wp = MAKEWPARAM(GetDlgCtrlID(button) & 0xFFFF, BN_CLICKED);
  return PostMessageA(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool MouseClick(HWND w, int count) {
  RECT r;
  if (!w || !GetWindowRect(w, &r) || count < 1) return false;
  int sx = GetSystemMetrics(SM_CXSCREEN);
  int sy = GetSystemMetrics(SM_CYSCREEN);
  if (sx <= 1 || sy <= 1) return false;
  LONG x = ((r.left + r.right) / 2) * 65535 / (sx - 1);
  LONG y = ((r.top + r.bottom) / 2) * 65535 / (sy - 1);
  std::vector<INPUT> in;
  INPUT move;
  std::memset(&move, 0, sizeof move);
  move.type = INPUT_MOUSE;
  move.mi.dx = x;
  move.mi.dy = y;
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  in.push_back(move);
  for (int i = 0; i < count; ++i) {
    INPUT press = move;
    press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    in.push_back(press);
    press.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    in.push_back(press);
  }
  // One press after the other, each on its own, as two quick clicks of a hand would come.
  for (INPUT& one : in) {
    if (SendInput(1, &one, sizeof(INPUT)) != 1) return false;
    Sleep(30);
  }
  return true;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  DWORD_PTR count = 0;
  if (!Send(combo, CB_GETCOUNT, 0, 0, &count) || static_cast<LONG_PTR>(count) < 0) return items;
  for (DWORD_PTR i = 0; i < count && i < 10000; ++i) {
    DWORD_PTR len = 0;
    if (!Send(combo, CB_GETLBTEXTLEN, i, 0, &len) || static_cast<LONG_PTR>(len) < 0) break;
    if (len > kMaxText) len = kMaxText;
    // Asked for in UTF-16: between processes Wine hands the item text over in UTF-16 even
    // to an ANSI caller. Converted to the ANSI code page here.
    std::vector<wchar_t> buf(len * 2 + 2, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &got)) {
      break;
    }
    buf.back() = L'\0';
    items.push_back(Ansi(buf.data()));
  }
  return items;
}

int ComboSelection(HWND combo) {
  DWORD_PTR sel = 0;
  if (!Send(combo, CB_GETCURSEL, 0, 0, &sel)) return CB_ERR;
  return static_cast<int>(static_cast<LONG_PTR>(sel));
}

bool ComboSelect(HWND combo, int index) {
  if (!IsEnabled(combo)) return false;
  DWORD_PTR r = 0;
  if (!Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, &r)) return false;
  if (static_cast<int>(static_cast<LONG_PTR>(r)) != index) return false;
  HWND parent = GetParent(combo);
  WPARAM wp = MAKEWPARAM(GetDlgCtrlID(combo) & 0xFFFF, CBN_SELCHANGE);
  return parent && Send(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(combo), nullptr);
}

std::vector<TreeItem> TreeItems(HWND tree) {
  std::vector<TreeItem> items;
  RemoteBlock block(tree, sizeof(TVITEMA) + kTreeTextCap + 16);
  if (!block.Ok()) return items;
  WalkTree(tree, block, TreeNext(tree, TVGN_ROOT, nullptr), 0, &items);
  return items;
}

TreeItem TreeSelection(HWND tree) {
  TreeItem ti;
  HANDLE sel = TreeNext(tree, TVGN_CARET, nullptr);
  if (!sel) return ti;
  RemoteBlock block(tree, sizeof(TVITEMA) + kTreeTextCap + 16);
  if (block.Ok()) ReadTreeItem(tree, block, sel, &ti);
  ti.item = sel;
  return ti;
}

bool TreeSelect(HWND tree, HANDLE item) {
  DWORD_PTR ok = 0;
  return Send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item), &ok) && ok;
}

MessageBoxInfo WaitMessageBox(DWORD pid, DWORD timeoutMs) {
  MessageBoxInfo info;
  WindowQuery q;
  q.pid = pid;
  q.className = "#32770";
  Poll(timeoutMs, [&] {
    for (HWND w : TopWindows(q)) {
      if (!IsMessageBox(w)) continue;
      info.box = w;
      return true;
    }
    return false;
  });
  if (!info.box) return info;
  char caption[512];
  int n = GetWindowTextA(info.box, caption, sizeof caption);
  info.caption.assign(caption, n > 0 ? static_cast<size_t>(n) : 0);
  info.text = GetText(MessageText(info.box));
  return info;
}

bool AnswerMessageBox(HWND box, int id, DWORD timeoutMs) {
  if (!box || !IsWindow(box)) return false;
  HWND button = GetDlgItem(box, id);
  if (!button) return false;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return Poll(timeoutMs, [&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

bool TimedSend(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD timeoutMs, DWORD* elapsedMs,
               DWORD_PTR* result) {
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  DWORD_PTR r = 0;
  BOOL ok = SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, timeoutMs, &r) != 0;
  QueryPerformanceCounter(&t1);
  if (elapsedMs) *elapsedMs = static_cast<DWORD>((t1.QuadPart - t0.QuadPart) * 1000 / freq.QuadPart);
  if (result) *result = r;
  return ok;
}

bool EndSession(HWND w, LPARAM reason, DWORD timeoutMs, bool* allowed) {
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(w, WM_QUERYENDSESSION, 0, reason, SMTO_ABORTIFHUNG, timeoutMs,
                           &answer)) {
    return false;
  }
  if (allowed) *allowed = answer != 0;
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(w, WM_ENDSESSION, answer != 0, reason, SMTO_ABORTIFHUNG,
                             timeoutMs, &ignored) != 0;
}

bool ScreenshotBmp(const char* path) {
  int w = GetSystemMetrics(SM_CXSCREEN);
  int h = GetSystemMetrics(SM_CYSCREEN);
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
  HDC screen = GetDC(nullptr);
  if (!screen) return false;
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi;
  std::memset(&bi, 0, sizeof bi);
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up, as a BMP file stores it
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (mem && bmp && bits) {
    HGDIOBJ old = SelectObject(mem, bmp);
    ok = BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY | CAPTUREBLT) != FALSE;
    GdiFlush();
    SelectObject(mem, old);
  }
  if (ok) {
    DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh;
    std::memset(&fh, 0, sizeof fh);
    fh.bfType = 0x4D42;  // "BM"
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + imageSize;
    bi.bmiHeader.biSizeImage = imageSize;
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    ok = f != INVALID_HANDLE_VALUE;
    if (ok) {
      DWORD n = 0;
      ok = WriteFile(f, &fh, sizeof fh, &n, nullptr) && n == sizeof fh &&
           WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &n, nullptr) &&
           n == sizeof bi.bmiHeader && WriteFile(f, bits, imageSize, &n, nullptr) &&
           n == imageSize;
      CloseHandle(f);
    }
  }
  if (bmp) DeleteObject(bmp);
  if (mem) DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

RECT WindowRect(HWND w) {
  RECT r{0, 0, 0, 0};
  if (w) GetWindowRect(w, &r);
  return r;
}

}  // namespace gui
