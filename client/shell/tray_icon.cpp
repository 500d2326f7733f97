#include "client/shell/tray_icon.h"

#include <shellapi.h>

#include <cstring>

#include "client/ui/dialog_base.h"

namespace {

// The size every Windows from XP on accepts with a 128-byte tip.
#ifdef NOTIFYICONDATAA_V2_SIZE
const DWORD kNotifySize = NOTIFYICONDATAA_V2_SIZE;
#else
const DWORD kNotifySize = sizeof(NOTIFYICONDATAA);
#endif

void FillData(NOTIFYICONDATAA* data, HWND owner) {
  ZeroMemory(data, sizeof *data);
  data->cbSize = kNotifySize;
  data->hWnd = owner;
  data->uID = 1;
}

}  // namespace

CTrayIcon::CTrayIcon() : m_owner(nullptr), m_menuId(0), m_defaultItem(0), m_added(false) {}

CTrayIcon::~CTrayIcon() { Remove(); }

BOOL CTrayIcon::Create(HWND owner, UINT iconId, const char* tip, UINT menuId, UINT defaultItem) {
  m_owner = owner;
  m_menuId = menuId;
  m_defaultItem = defaultItem;
  NOTIFYICONDATAA data;
  FillData(&data, owner);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = static_cast<HICON>(LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(iconId),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  lstrcpynA(data.szTip, tip, sizeof data.szTip);
  m_added = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
  return m_added;
}

void CTrayIcon::Remove() {
  if (!m_added) return;
  NOTIFYICONDATAA data;
  FillData(&data, m_owner);
  Shell_NotifyIconA(NIM_DELETE, &data);
  m_added = false;
}

void CTrayIcon::ShowBalloon(const char* title, const char* text) {
  if (!m_added) return;
  NOTIFYICONDATAA data;
  FillData(&data, m_owner);
  data.uFlags = NIF_INFO;
  lstrcpynA(data.szInfo, text ? text : "", sizeof data.szInfo);
  lstrcpynA(data.szInfoTitle, title ? title : "", sizeof data.szInfoTitle);
  data.uTimeout = 10000;  // the shell keeps it between 10 and 30 s
  data.dwInfoFlags = NIIF_INFO;
  Shell_NotifyIconA(NIM_MODIFY, &data);
}

LRESULT CTrayIcon::OnNotify(WPARAM wParam, LPARAM lParam) {
  UINT event = static_cast<UINT>(lParam);
  if (event != WM_RBUTTONUP && event != WM_CONTEXTMENU && event != WM_LBUTTONDBLCLK) return 0;
  if (SendMessageA(m_owner, WM_TRAY_PREVIEW, wParam, lParam)) return 0;

  if (event == WM_LBUTTONDBLCLK) {
    SetForegroundWindow(m_owner);
    SendMessageA(m_owner, WM_COMMAND, m_defaultItem, 0);
    return 0;
  }
  HMENU menu = LoadMenuA(ResourceInstance(), MAKEINTRESOURCEA(m_menuId));
  if (!menu) return 0;
  HMENU popup = GetSubMenu(menu, 0);
  if (popup) {
    SetMenuDefaultItem(popup, m_defaultItem, FALSE);
    POINT pt;
    GetCursorPos(&pt);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(m_owner);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_owner, nullptr);
    PostMessageA(m_owner, WM_NULL, 0, 0);
  }
  DestroyMenu(menu);
  return 0;
}
