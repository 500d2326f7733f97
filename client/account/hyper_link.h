// A static text of a dialog drawn and used as a link: blue, purple while the pointer is
// over it, the hand cursor, and a click opens its page in the user's default browser, started
// as the user (OpenWebAddress).
#pragma once

#include <windows.h>

#include <string>

class CHyperLink {
 public:
  static const COLORREF kNormalColor = RGB(0, 0, 238);
  static const COLORREF kHoverColor = RGB(192, 0, 192);

  CHyperLink();
  ~CHyperLink();
  CHyperLink(const CHyperLink&) = delete;
  CHyperLink& operator=(const CHyperLink&) = delete;

  // Takes over the dialog's static control: click notifications on, a font of its own
  // copied from the control's.
  BOOL Attach(HWND dialog, int id);
  // The caption shown stays the control's own text from the template.
  void SetLink(const std::string& url, const std::string& text);

  COLORREF CurrentColor() const { return m_hover ? kHoverColor : kNormalColor; }

 private:
  static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Redraw();

  HWND m_hWnd;
  WNDPROC m_oldProc;
  bool m_hover;
  HCURSOR m_hand;
  HFONT m_font;
  std::string m_url;
  std::string m_text;
};
