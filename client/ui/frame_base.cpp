#include "client/ui/frame_base.h"

#include "client/ui/dialog_base.h"

CFrameBase::CFrameBase() : m_hWnd(nullptr) {}

CFrameBase::~CFrameBase() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

const FrameMsgEntry* CFrameBase::GetMessageMap() const {
  static const FrameMsgEntry none[] = {{0, 0, nullptr, nullptr}};
  return none;
}

bool CFrameBase::HandlesCommand(UINT id) const {
  for (const FrameMsgEntry* e = GetMessageMap(); e->onMessage || e->onCommand; ++e) {
    if (e->message == WM_COMMAND && e->id == id) return true;
  }
  return false;
}

BOOL CFrameBase::CreateFrame(const char* className, const char* title, DWORD style,
                             DWORD exStyle, HICON icon) {
  WNDCLASSEXA wc;
  ZeroMemory(&wc, sizeof wc);
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExA(ResourceInstance(), className, &wc)) {
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ResourceInstance();
    wc.hIcon = icon;
    wc.hIconSm = icon;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    if (!RegisterClassExA(&wc)) return FALSE;
  }
  HWND wnd = CreateWindowExA(exStyle, className, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, ResourceInstance(),
                             this);
  return wnd != nullptr;
}

LRESULT CALLBACK CFrameBase::WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CFrameBase* self;
  if (message == WM_NCCREATE) {
    self = static_cast<CFrameBase*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = wnd;
  } else {
    self = reinterpret_cast<CFrameBase*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  }
  if (self) {
    for (const FrameMsgEntry* e = self->GetMessageMap(); e->onMessage || e->onCommand; ++e) {
      if (e->message != message) continue;
      if (message == WM_COMMAND) {
        if (e->id != LOWORD(wParam)) continue;
        (self->*(e->onCommand))();
        return 0;
      }
      return (self->*(e->onMessage))(wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
      self->m_hWnd = nullptr;
    }
  }
  return DefWindowProcA(wnd, message, wParam, lParam);
}
