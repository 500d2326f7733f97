#include "client/shell/main_frame.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client/accel/route_manager.h"
#include "client/accel/select_line_dlg.h"
#include "client/account/config_store.h"
#include "client/diag/dlg_debug_info.h"
#include "client/shell/net_tuning.h"
#include "client/shell/resource.h"
#include "client/ui/message_box.h"
#include "client/web/web_page_dlg.h"
#include "common/command_runner.h"
#include "common/run_log.h"

BEGIN_FRAME_MESSAGE_MAP(CMainFrame)
ON_FRAME_MESSAGE(WM_CREATE, &CMainFrame::OnCreate)
ON_FRAME_MESSAGE(WM_SIZE, &CMainFrame::OnSize)
ON_FRAME_MESSAGE(WM_CLOSE, &CMainFrame::OnClose)
ON_FRAME_MESSAGE(WM_DESTROY, &CMainFrame::OnDestroy)
ON_FRAME_MESSAGE(WM_SETFOCUS, &CMainFrame::OnSetFocus)
ON_FRAME_MESSAGE(WM_TRAY_NOTIFY, &CMainFrame::OnTrayNotify)
ON_FRAME_MESSAGE(WM_INITMENUPOPUP, &CMainFrame::OnInitMenuPopup)
ON_FRAME_MESSAGE(WM_NOTIFY, &CMainFrame::OnNotify)
ON_FRAME_MESSAGE(WM_QUERYENDSESSION, &CMainFrame::OnQueryEndSession)
ON_FRAME_MESSAGE(WM_ENDSESSION, &CMainFrame::OnEndSession)
ON_FRAME_MESSAGE(WM_POWERBROADCAST, &CMainFrame::OnPowerBroadcast)
ON_FRAME_MESSAGE(WM_ACC_NOTICE, &CMainFrame::OnAccNotice)
ON_FRAME_COMMAND(ID_SHOW_ACCEL, &CMainFrame::OnShowAccel)
ON_FRAME_COMMAND(ID_SHOW_GAME_TOOL, &CMainFrame::OnShowGameTool)
ON_FRAME_COMMAND(ID_MENU_GAME_TOOL, &CMainFrame::OnShowGameTool)
ON_FRAME_COMMAND(ID_SHOW_HOT_GAMES, &CMainFrame::OnShowHotGames)
ON_FRAME_COMMAND(ID_SHOW_RECHARGE, &CMainFrame::OnShowRecharge)
ON_FRAME_COMMAND(ID_SHOW_BUY_CARDS, &CMainFrame::OnShowBuyCards)
ON_FRAME_COMMAND(ID_SHOW_HELP, &CMainFrame::OnShowHelp)
ON_FRAME_COMMAND(ID_SHOW_AK_VOICE, &CMainFrame::OnShowAkVoice)
ON_FRAME_COMMAND(ID_SHOW_DEBUG, &CMainFrame::OnShowDebug)
ON_FRAME_COMMAND(ID_SELECT_LINE, &CMainFrame::OnSelectLine)
ON_FRAME_COMMAND(ID_NET_TUNING, &CMainFrame::OnNetTuning)
ON_FRAME_COMMAND(ID_CLEAR_ACCOUNT, &CMainFrame::OnClearAccount)
ON_FRAME_COMMAND(ID_VIEW_LOG, &CMainFrame::OnViewLog)
ON_FRAME_COMMAND(ID_VISIT_SITE, &CMainFrame::OnVisitSite)
ON_FRAME_COMMAND(ID_APP_ABOUT, &CMainFrame::OnAbout)
ON_FRAME_COMMAND(ID_APP_EXIT, &CMainFrame::OnExit)
ON_FRAME_COMMAND(ID_TRAY_SHOW, &CMainFrame::OnShowWindow)
ON_FRAME_COMMAND(ID_TRAY_EXIT, &CMainFrame::OnExit)
ON_FRAME_COMMAND(ID_TRAY_CONNECT, &CMainFrame::OnTrayConnect)
ON_FRAME_COMMAND(ID_TRAY_DISCONNECT, &CMainFrame::OnTrayDisconnect)
END_FRAME_MESSAGE_MAP(CMainFrame)

namespace {

const UINT_PTR kFrameTimer = 1;

// A command line that does not fit would name some other file: it is not run at all.
void RunCommand(const std::string& program, const char* format, const std::string& argument) {
  char command[600];
  int length = std::snprintf(command, sizeof command, format, argument.c_str());
  if (length < 0 || static_cast<size_t>(length) >= sizeof command) {
    CRunLog::Write("命令行过长，未执行：%.200s\r\n", argument.c_str());
    return;
  }
  if (program.empty()) return;
  CommandRunner().RunProgram(program.c_str(), command, nullptr, SW_SHOWNORMAL);
}

}  // namespace

CMainFrame::CMainFrame() : m_toolBar(nullptr), m_toolImages(nullptr), m_activePage(0) {
  m_pages[1].reset(new CGameToolDlg);
  m_pages[2].reset(new CRechargeDlg);
  m_pages[3].reset(new CBuyCardsDlg);
  m_pages[4].reset(new CHotGamesDlg);
  m_pages[5].reset(new CHelpDlg);
  m_pages[6].reset(new CAkVoiceDlg);
  m_pages[7].reset(new CDlgDebugInfo);
}

CMainFrame::~CMainFrame() {
  if (m_toolImages) ImageList_Destroy(m_toolImages);
}

BOOL CMainFrame::Create() {
  HICON icon = LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME));
  // Fixed size: no sizing border and no maximise box; no client edge.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX;
  return CreateFrame(ClassName(), Title(), style, 0, icon);
}

HWND CMainFrame::ActivePage() const {
  return m_activePage == 0 ? m_accMain.GetSafeHwnd() : m_pages[m_activePage]->GetSafeHwnd();
}

LRESULT CMainFrame::OnCreate(WPARAM, LPARAM) {
  if (!m_tray.Create(m_hWnd, IDR_MAINFRAME, "Vela网络游戏加速器 - 个人版", IDR_TRAY_MENU,
                     ID_TRAY_SHOW)) {
    return -1;
  }
  m_accMain.Create(m_hWnd);
  for (int i = 1; i < kPageCount; ++i) m_pages[i]->Create(m_hWnd);
  ShowPage(0);

  if (!CreateToolBar()) return -1;

  HDC screen = GetDC(nullptr);
  // Truncated, not rounded: 527 at 120 pixels per inch is 658.
  int width = 640 * GetDeviceCaps(screen, LOGPIXELSX) / 96;
  int height = 527 * GetDeviceCaps(screen, LOGPIXELSY) / 96;
  ReleaseDC(nullptr, screen);
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(m_hWnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

  SetMenu(m_hWnd, LoadMenuA(ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME)));
  if (ConfigStore().m_runCounter == 1) {
    CFirstRun firstRun;
    firstRun.DoModal(m_hWnd);
  }
  SetTimer(m_hWnd, kFrameTimer, 1000, nullptr);
  return 0;
}

bool CMainFrame::CreateToolBar() {
  m_toolBar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                              WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP |
                                  CCS_NODIVIDER,
                              0, 0, 0, 0, m_hWnd, reinterpret_cast<HMENU>(IDR_TOOLBAR),
                              ResourceInstance(), nullptr);
  if (!m_toolBar) return false;
  SendMessageA(m_toolBar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);

  // The tool bar resource: version, button width and height, count, then the commands.
  HRSRC found = FindResourceA(ResourceInstance(), MAKEINTRESOURCEA(IDR_TOOLBAR),
                              MAKEINTRESOURCEA(RT_TOOLBAR_DATA));
  HGLOBAL loaded = found ? LoadResource(ResourceInstance(), found) : nullptr;
  const WORD* data = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  DWORD bytes = found ? SizeofResource(ResourceInstance(), found) : 0;
  if (!data || bytes < 8 || data[0] != 1 || bytes < 8u + 2u * data[3]) return false;
  int width = data[1], height = data[2], count = data[3];

  m_toolImages = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, count, 0);
  HBITMAP strip = static_cast<HBITMAP>(LoadImageA(ResourceInstance(),
                                                  MAKEINTRESOURCEA(IDR_TOOLBAR), IMAGE_BITMAP,
                                                  0, 0, LR_CREATEDIBSECTION));
  if (m_toolImages && strip) ImageList_AddMasked(m_toolImages, strip, RGB(255, 0, 255));
  if (strip) DeleteObject(strip);
  SendMessageA(m_toolBar, TB_SETBITMAPSIZE, 0, MAKELONG(width, height));
  SendMessageA(m_toolBar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_toolImages));
  SendMessageA(m_toolBar, TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(m_toolImages));

  std::vector<TBBUTTON> buttons;
  int image = 0;
  for (int i = 0; i < count; ++i) {
    TBBUTTON button;
    ZeroMemory(&button, sizeof button);
    button.idCommand = data[4 + i];
    if (button.idCommand == 0) {
      button.fsStyle = TBSTYLE_SEP;
    } else {
      button.iBitmap = image++;
      button.fsState = TBSTATE_ENABLED;
      button.fsStyle = TBSTYLE_BUTTON;
    }
    buttons.push_back(button);
  }
  SendMessageA(m_toolBar, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
  SendMessageA(m_toolBar, TB_AUTOSIZE, 0, 0);
  return true;
}

LRESULT CMainFrame::OnSize(WPARAM, LPARAM) {
  if (!m_toolBar) return 0;
  SendMessageA(m_toolBar, TB_AUTOSIZE, 0, 0);
  RECT bar;
  GetWindowRect(m_toolBar, &bar);
  int top = bar.bottom - bar.top;
  HDWP batch = BeginDeferWindowPos(32);
  for (int i = 0; i < kPageCount && batch; ++i) {
    HWND page = i == 0 ? m_accMain.GetSafeHwnd() : m_pages[i]->GetSafeHwnd();
    if (!page) continue;
    RECT rc;
    GetWindowRect(page, &rc);
    batch = DeferWindowPos(batch, page, nullptr, 0, top, rc.right - rc.left, rc.bottom - rc.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (batch) EndDeferWindowPos(batch);
  return 0;
}

void CMainFrame::ShowPage(int index) {
  for (int i = 0; i < kPageCount; ++i) {
    HWND page = i == 0 ? m_accMain.GetSafeHwnd() : m_pages[i]->GetSafeHwnd();
    if (page && i != index) ShowWindow(page, SW_HIDE);
  }
  m_activePage = index;
  HWND shown = ActivePage();
  if (shown) ShowWindow(shown, SW_SHOW);
}

LRESULT CMainFrame::OnClose(WPARAM, LPARAM) {
  // The program lives on in the tray, and so does the tunnel.
  ShowWindow(m_hWnd, SW_HIDE);
  return 0;
}

LRESULT CMainFrame::OnDestroy(WPARAM, LPARAM) {
  KillTimer(m_hWnd, kFrameTimer);
  m_tray.Remove();
  PostQuitMessage(0);
  return 0;
}

LRESULT CMainFrame::OnSetFocus(WPARAM, LPARAM) { return 0; }

LRESULT CMainFrame::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
  return m_tray.OnNotify(wParam, lParam);
}

LRESULT CMainFrame::OnInitMenuPopup(WPARAM wParam, LPARAM) {
  // A command without a handler is shown disabled.
  HMENU menu = reinterpret_cast<HMENU>(wParam);
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    UINT id = GetMenuItemID(menu, i);
    if (id == 0 || id == static_cast<UINT>(-1)) continue;
    bool enabled = HandlesCommand(id);
    if (id == ID_SELECT_LINE) enabled = enabled && m_accMain.LineChoiceAllowed();
    if (id == ID_TRAY_CONNECT) enabled = enabled && m_accMain.ConnectAllowed();
    if (id == ID_TRAY_DISCONNECT) enabled = enabled && m_accMain.DisconnectAllowed();
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
  return 0;
}

LRESULT CMainFrame::OnNotify(WPARAM, LPARAM lParam) {
  NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
  if (header && header->code == TTN_GETDISPINFOA) {
    // The tool bar's tips are the command's string.
    NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(lParam);
    info->hinst = ResourceInstance();
    info->lpszText = MAKEINTRESOURCEA(header->idFrom);
  }
  return 0;
}

LRESULT CMainFrame::OnQueryEndSession(WPARAM, LPARAM) { return TRUE; }

LRESULT CMainFrame::OnEndSession(WPARAM ending, LPARAM) {
  // The session ends with the client in the tray: nothing else would write the settings
  // (only the exit command does), and the user's account and choices would be lost.
  if (ending) ConfigStore().SaveSettings();
  return 0;
}

LRESULT CMainFrame::OnPowerBroadcast(WPARAM event, LPARAM) {
  m_accMain.OnPowerEvent(event);
  return TRUE;
}

LRESULT CMainFrame::OnAccNotice(WPARAM, LPARAM text) {
  // Seen in the window when it is up; a player in a game hears of it from the tray.
  if (!IsWindowVisible(m_hWnd) || IsIconic(m_hWnd))
    m_tray.ShowBalloon(Title(), reinterpret_cast<const char*>(text));
  return 0;
}

void CMainFrame::OnSelectLine() {
  // The command follows the page's line button, which is off while an account check runs
  // so that the line checked is the line dialled; a command that comes without the menu
  // (posted by another program) is refused the same way.
  if (!m_accMain.LineChoiceAllowed()) return;
  CSelectLineDlg dialog;
  if (dialog.DoModal(m_hWnd) == IDOK) m_accMain.ShowSelectedLine();
}

void CMainFrame::OnNetTuning() { RunNetworkTuning(m_hWnd); }

void CMainFrame::OnClearAccount() {
  CConfigStore& store = ConfigStore();
  store.m_userName.clear();
  store.m_password.clear();
  store.m_remember = 0;
  store.m_autoLogin = 0;
  AccelMessageBox(m_hWnd, "保存的帐号已经清除，下次启动加速器时需要重新输入用户名、密码！", "成功",
                  MB_ICONINFORMATION);
}

void CMainFrame::OnViewLog() {
  CRouteManager::DumpRouteTable();
  RunCommand(SystemProgramPath("notepad.exe"), "notepad \"%s\"",
             ConfigStore().CachePath("run.log"));
}

void CMainFrame::OnVisitSite() {
  OpenWebAddress(m_hWnd, ConfigStore().m_siteUrl, WindowsProgramPath("explorer.exe"));
}

void CMainFrame::OnAbout() {
  CDialogBase about(IDD_ABOUTBOX);
  about.DoModal(m_hWnd);
}

void CMainFrame::OnShowWindow() {
  ShowWindow(m_hWnd, SW_SHOW);
  ShowWindow(m_hWnd, SW_RESTORE);
  SetForegroundWindow(m_hWnd);
}

void CMainFrame::OnExit() {
  ConfigStore().SaveSettings();
  DestroyWindow(m_hWnd);
}
