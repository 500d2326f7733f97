// The notification-area icon of the main window: its tip, its menu on a right click and
// the main window on a double click.
#pragma once

#include <windows.h>

// The icon's callback message to the main window.
const UINT WM_TRAY_NOTIFY = WM_APP + 1;
// Sent to the main window before the icon acts; a non-zero answer stops it.
const UINT WM_TRAY_PREVIEW = 10045;

class CTrayIcon {
 public:
  CTrayIcon();
  ~CTrayIcon();
  CTrayIcon(const CTrayIcon&) = delete;
  CTrayIcon& operator=(const CTrayIcon&) = delete;

  BOOL Create(HWND owner, UINT iconId, const char* tip, UINT menuId, UINT defaultItem);
  void Remove();
  // A balloon over the icon with a title and a text (both cut to what the shell takes).
  void ShowBalloon(const char* title, const char* text);
  // The owner hands every WM_TRAY_NOTIFY here.
  LRESULT OnNotify(WPARAM wParam, LPARAM lParam);

 private:
  HWND m_owner;
  UINT m_menuId;
  UINT m_defaultItem;
  bool m_added;
};
