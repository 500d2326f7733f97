#include "client/account/hyper_link.h"

#include "client/ui/dialog_base.h"
#include "client/web/web_page_dlg.h"

namespace {
const char kProp[] = "AccelHyperLink";
}

CHyperLink::CHyperLink()
    : m_hWnd(nullptr), m_oldProc(nullptr), m_hover(false),
      m_hand(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649))), m_font(nullptr) {}

CHyperLink::~CHyperLink() {
  if (m_hWnd && IsWindow(m_hWnd)) {
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
    RemovePropA(m_hWnd, kProp);
  }
  if (m_font) DeleteObject(m_font);
}

BOOL CHyperLink::Attach(HWND dialog, int id) {
  HWND wnd = GetDlgItem(dialog, id);
  if (!wnd || m_hWnd) return FALSE;
  m_hWnd = wnd;
  SetWindowLongPtrA(wnd, GWL_STYLE, GetWindowLongPtrA(wnd, GWL_STYLE) | SS_NOTIFY);
  HFONT current = reinterpret_cast<HFONT>(SendMessageA(wnd, WM_GETFONT, 0, 0));
  LOGFONTA lf;
  if (current && GetObjectA(current, sizeof lf, &lf) == sizeof lf) {
    m_font = CreateFontIndirectA(&lf);
    if (m_font) SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
  }
  SetPropA(wnd, kProp, this);
  m_oldProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
  return TRUE;
}

void CHyperLink::SetLink(const std::string& url, const std::string& text) {
  m_url = url;
  m_text = text;
}

void CHyperLink::Redraw() {
  // The static paints over the parent's background: the parent must erase first. Painting
  // the link alone before that would draw the new colour over the old one, whose edges stay.
  HWND parent = GetParent(m_hWnd);
  RECT rc;
  GetWindowRect(m_hWnd, &rc);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
  RedrawWindow(parent, &rc, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

LRESULT CALLBACK CHyperLink::Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CHyperLink* self = static_cast<CHyperLink*>(GetPropA(wnd, kProp));
  if (!self) return DefWindowProcA(wnd, message, wParam, lParam);
  return self->OnMessage(message, wParam, lParam);
}

LRESULT CHyperLink::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_REFLECT_BASE + WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, CurrentColor());
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    case WM_REFLECT_BASE + WM_COMMAND:
      if (HIWORD(wParam) != STN_CLICKED) return 0;
      OpenWebAddress(GetParent(m_hWnd), m_url);
      return 1;
    case WM_MOUSEMOVE: {
      RECT rc;
      GetClientRect(m_hWnd, &rc);
      POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      bool inside = PtInRect(&rc, pt) != FALSE;
      // A move outside while not hovering is one queued before the leave: starting the hover
      // on it would keep the pointer captured and the hover colour up with nothing to end them.
      // The pointer is held before the hover colour shows, so a hover on screen always has
      // the capture that will end it.
      if (!m_hover && inside) {
        m_hover = true;
        SetCapture(m_hWnd);
        Redraw();
      } else if (m_hover && !inside) {
        m_hover = false;
        ReleaseCapture();
        Redraw();
      }
      break;
    }
    case WM_CAPTURECHANGED:
      // Another window took the pointer: this one will not see it leave.
      if (m_hover && reinterpret_cast<HWND>(lParam) != m_hWnd) {
        m_hover = false;
        Redraw();
      }
      break;
    case WM_SETCURSOR:
      SetCursor(m_hand);
      return TRUE;
    default:
      break;
  }
  return CallWindowProcA(m_oldProc, m_hWnd, message, wParam, lParam);
}
