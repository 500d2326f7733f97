#include "client/accel/acc_main_dlg.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/accel/game_command.h"
#include "client/accel/game_launch.h"
#include "client/accel/route_manager.h"
#include "client/accel/select_line_dlg.h"
#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/shell/resource.h"
#include "client/ui/message_box.h"
#include "client/web/skin_html_view.h"
#include "common/command_runner.h"
#include "common/dir_trust_win.h"
#include "common/run_log.h"
#include "common/text_format.h"

BEGIN_DIALOG_MESSAGE_MAP(CAccMainDlg)
ON_DIALOG_COMMAND(IDC_ACC_CONNECT, &CAccMainDlg::OnConnect)
ON_DIALOG_COMMAND(IDC_ACC_DISCONNECT, &CAccMainDlg::OnDisconnect)
ON_DIALOG_COMMAND(IDC_ACC_SELECT_LINE, &CAccMainDlg::OnSelectLine)
ON_DIALOG_MESSAGE(WM_TUNNEL_CONNECTED, &CAccMainDlg::OnTunnelConnected)
ON_DIALOG_MESSAGE(WM_TUNNEL_ERROR, &CAccMainDlg::OnTunnelError)
ON_DIALOG_MESSAGE(WM_TUNNEL_DISCONNECTED, &CAccMainDlg::OnTunnelDisconnected)
ON_DIALOG_MESSAGE(WM_TUNNEL_DIALING, &CAccMainDlg::OnTunnelDialing)
ON_DIALOG_MESSAGE(WM_TUNNEL_CLOSING, &CAccMainDlg::OnTunnelClosing)
ON_DIALOG_MESSAGE(WM_TUNNEL_STATUS, &CAccMainDlg::OnTunnelStatus)
ON_DIALOG_MESSAGE(WM_ACCOUNT_VERIFIED, &CAccMainDlg::OnAccountVerified)
ON_DIALOG_MESSAGE(WM_ACCOUNT_REJECTED, &CAccMainDlg::OnAccountRejected)
ON_DIALOG_MESSAGE(WM_ROUTE_FAILED, &CAccMainDlg::OnRouteFailed)
ON_DIALOG_MESSAGE(WM_OTHER_VPN, &CAccMainDlg::OnOtherVpn)
ON_DIALOG_MESSAGE(WM_TRAFFIC_TEXT, &CAccMainDlg::OnTrafficText)
ON_DIALOG_MESSAGE(WM_SHOW_ACCOUNT, &CAccMainDlg::OnShowAccount)
ON_DIALOG_MESSAGE(WM_UI_DIALING, &CAccMainDlg::OnUiDialing)
ON_DIALOG_MESSAGE(WM_UI_CONNECTED, &CAccMainDlg::OnUiConnected)
ON_DIALOG_MESSAGE(WM_UI_DISCONNECTED, &CAccMainDlg::OnUiIdle)
ON_DIALOG_MESSAGE(WM_UI_FAILED, &CAccMainDlg::OnUiIdle)
ON_DIALOG_MESSAGE(WM_TIMER, &CAccMainDlg::OnTimer)
END_DIALOG_MESSAGE_MAP(CAccMainDlg)

namespace {

const UINT_PTR kTickTimer = 1;
// A start that the module refuses (it believes it is still connected or connecting) or
// cannot pass on (no worker thread) is answered by nothing. The longest the module stays
// busy before it takes a start is an XP hang-up of 20 s.
const UINT_PTR kStartTimer = 2;
const UINT kStartAnswerMs = 30000;

// A lost line is dialled again by itself, the same line and game, this long after the loss.
const UINT_PTR kReconnectTimer = 3;
const DWORD kReconnectAfterMs[] = {5000, 15000, 30000};
const int kReconnectTries = 3;
const char kLost[] = "加速连接中断！";
// After a resume, the connection waits this long at most for the PC's network.
const UINT_PTR kResumeTimer = 4;
const DWORD kResumeWaitMs = 30000;

const char* TextOf(LPARAM lParam) { return reinterpret_cast<const char*>(lParam); }

template <typename T>
T Bind(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const char* CAccMainDlg::TunnelModuleName(DWORD major, DWORD minor) {
  return (major == 6 && minor == 1) ? "\\tunnel_w7.dll" : "\\tunnel_xp.dll";
}

CAccMainDlg::CAccMainDlg()
    : CDialogBase(IDD_ACC_MAIN), m_pView(nullptr), m_hModule(nullptr), m_pfnInit(nullptr),
      m_pfnUninit(nullptr), m_pfnStart(nullptr), m_pfnClose(nullptr), m_pfnTimer(nullptr),
      m_pfnGetIp(nullptr), m_dialLine(-1), m_reconnectTry(0), m_reconnectRunning(false),
      m_lostAt(0), m_lostGame(CB_ERR), m_suspended(false), m_resumeWanted(false),
      m_resumedAt(0) {
  CConfigStore& store = ConfigStore();
  std::string path = std::string(store.ProgramDir()) +
                     TunnelModuleName(store.m_osVersion.dwMajorVersion,
                                      store.m_osVersion.dwMinorVersion);
  // No program folder known: "\\tunnel_xp.dll" would be the current drive's root.
  m_hModule = store.ProgramDir()[0] ? LoadLibraryA(path.c_str()) : nullptr;
  if (m_hModule) {
    m_pfnInit = Bind<PFN_InitCoreApi>(m_hModule, "InitCoreApi");
    m_pfnUninit = Bind<PFN_UninitCoreApi>(m_hModule, "UninitCoreApi");
    m_pfnStart = Bind<PFN_StartConnect>(m_hModule, "StartConnect");
    m_pfnClose = Bind<PFN_CloseConnect>(m_hModule, "CloseConnect");
    m_pfnTimer = Bind<PFN_TimerNotification>(m_hModule, "TimerNotification");
    m_pfnGetIp = Bind<PFN_GetConnectionIp>(m_hModule, "GetConnectionIp");
    // A module that lacks any entry is not the module this client talks to.
    if (!m_pfnInit || !m_pfnUninit || !m_pfnStart || !m_pfnClose || !m_pfnTimer || !m_pfnGetIp) {
      FreeLibrary(m_hModule);
      m_hModule = nullptr;
    }
  }
  if (!m_hModule) AccelMessageBox(nullptr, "无法加载必须的库文件！", "严重错误", MB_ICONERROR);
  m_pView = new CSkinHtmlView;
}

CAccMainDlg::~CAccMainDlg() {
  // Normally gone with the window; a page never created still owns its view and module.
  OnDestroy();
}

BOOL CAccMainDlg::OnInitDialog() {
  CConfigStore& store = ConfigStore();
  if (m_hModule) m_pfnInit(m_hWnd);
  m_pView->CreateOverControl(IDC_ACC_WEB, m_hWnd);
  m_pView->ShowWindow(SW_SHOW);
  std::string start = store.ClientPageUrl("/new_index.php");
  SetIdentityCookie(start, "uid", store.m_accountUser);
  SetIdentityCookie(start, "app", std::to_string(store.m_modeApp));
  m_pView->OpenUrl(start);
  FillGameList();
  PostToSelf(WM_SHOW_ACCOUNT, 0, 0);
  SetTimer(kTickTimer, 1000);
  if (const char* warning = TakeProgramDirWarning()) SetStatus(warning);
  return TRUE;
}

void CAccMainDlg::OnDestroy() {
  if (m_hWnd) {
    KillTimer(kTickTimer);
    KillTimer(kStartTimer);
    KillTimer(kReconnectTimer);
    KillTimer(kResumeTimer);
  }
  if (m_hModule) {
    m_pfnUninit();
    FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }
  delete m_pView;
  m_pView = nullptr;
}

void CAccMainDlg::FillGameList() {
  const CConfigStore& store = ConfigStore();
  HWND list = Item(IDC_ACC_GAME_LIST);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  int current = 0;
  for (size_t i = 0; i < store.m_games.size(); ++i) {
    SendMessageA(list, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(store.m_games[i].m_name.c_str()));
    if (store.m_games[i].m_id == store.m_modeApp) current = static_cast<int>(i);
  }
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(current), 0);
}

void CAccMainDlg::ShowSelectedLine() {
  const CConfigStore& store = ConfigStore();
  if (store.m_selectedLine < 0) return;
  // Another line chosen: the waiting reconnection was for the old one.
  if (m_reconnectTry > 0 && !m_reconnectRunning) {
    CancelReconnect();
    SetStatus(kLost);
  }
  const ServerItem* line = store.m_lines.FindById(store.m_selectedLine);
  if (line) SetItemText(IDC_ACC_LINE_NAME, line->name + " " + line->group);
}

bool CAccMainDlg::LineChoiceAllowed() const {
  return m_hWnd && IsItemEnabled(IDC_ACC_SELECT_LINE);
}

void CAccMainDlg::SetStatus(const char* text) { SetItemText(IDC_ACC_STATUS, text ? text : ""); }

bool CAccMainDlg::ConnectAllowed() const { return m_hWnd && IsItemEnabled(IDC_ACC_CONNECT); }

bool CAccMainDlg::DisconnectAllowed() const {
  return m_hWnd && IsItemEnabled(IDC_ACC_DISCONNECT);
}

// A command that comes without the tray menu (posted by another program) is refused the
// same way as a greyed item.
void CAccMainDlg::Connect() {
  if (ConnectAllowed()) OnConnect();
}

void CAccMainDlg::Disconnect() {
  if (DisconnectAllowed()) OnDisconnect();
}

void CAccMainDlg::Notice(const char* text) {
  HWND parent = GetParent(m_hWnd);
  if (parent) SendMessageA(parent, WM_ACC_NOTICE, 0, reinterpret_cast<LPARAM>(text));
}

void CAccMainDlg::OnConnect() {
  CancelReconnect();
  CConfigStore& store = ConfigStore();
  LRESULT selection = SendMessageA(Item(IDC_ACC_GAME_LIST), CB_GETCURSEL, 0, 0);
  if (selection == CB_ERR || static_cast<size_t>(selection) >= store.m_games.size()) {
    AccelMessageBox(m_hWnd, "请先选择游戏模式！", "错误", MB_ICONERROR);
    return;
  }
  store.m_modeApp = store.m_games[static_cast<size_t>(selection)].m_id;
  if (store.m_selectedLine < 0) {
    AccelMessageBox(m_hWnd, "请先选择加速线路！", "错误", MB_ICONERROR);
    return;
  }
  // One check at a time: a second click would queue a second check whose late answer
  // overwrites the state of the first acceleration.
  if (!store.PostToWorker(WM_WORKER_CONNECT, static_cast<WPARAM>(store.m_selectedLine),
                          reinterpret_cast<LPARAM>(m_hWnd))) {
    return;
  }
  EnableItem(IDC_ACC_CONNECT, false);
  EnableItem(IDC_ACC_SELECT_LINE, false);
}

void CAccMainDlg::OnDisconnect() {
  // While a reconnection waits, the line is down already: only the waiting ends.
  if (m_reconnectTry > 0 && !m_reconnectRunning) {
    CancelReconnect();
    SetStatus("加速连接已经断开");
    SetIdle();
    return;
  }
  if (m_hModule) m_pfnClose();
}

void CAccMainDlg::OnSelectLine() {
  CSelectLineDlg dialog;
  if (dialog.DoModal(m_hWnd) == IDOK) ShowSelectedLine();
}

void CAccMainDlg::OpenErrorPage(int errNo, int code, int lineId) {
  const CConfigStore& store = ConfigStore();
  const ServerItem* line = store.m_lines.FindById(lineId);
  // Both texts came from outside (the login box, the line list): encoded, an "&" in
  // them cannot add a parameter of its own.
  std::string url = store.m_errorUrl + "?username=" + PercentEncode(store.m_accountUser) +
                    "&errno=" + std::to_string(errNo) + "&code=" + std::to_string(code) +
                    "&server=" + PercentEncode(line ? line->host : std::string());
  m_pView->OpenUrl(url);
}

LRESULT CAccMainDlg::OnTunnelConnected(WPARAM wParam, LPARAM lParam) {
  CConfigStore& store = ConfigStore();
  TunnelAnswered();
  SetStatus(TextOf(lParam));
  in_addr addr;
  addr.s_addr = m_hModule ? static_cast<u_long>(m_pfnGetIp()) : 0;
  // Before the route job is posted: the worker finds the tunnel's route by this address.
  store.m_tunnelIp = inet_ntoa(addr);
  PostToSelf(WM_UI_CONNECTED, wParam, lParam);
  store.PostToWorker(WM_WORKER_APPLY_ROUTES, 0, reinterpret_cast<LPARAM>(m_hWnd));
  return 0;
}

LRESULT CAccMainDlg::OnTunnelError(WPARAM wParam, LPARAM lParam) {
  TunnelAnswered();
  SetStatus(TextOf(lParam));
  OpenErrorPage(999, static_cast<int>(wParam), m_dialLine);
  PostToSelf(WM_UI_FAILED, wParam, lParam);
  ReconnectFailed();
  return 0;
}

LRESULT CAccMainDlg::OnTunnelDisconnected(WPARAM wParam, LPARAM lParam) {
  TunnelAnswered();
  bool lost = wParam == 1 && lParam == 1;
  if (lost) {
    SetStatus(kLost);
    OpenErrorPage(1000, static_cast<int>(wParam), m_dialLine);
  } else {
    SetStatus("加速连接已经断开");
  }
  PostToSelf(WM_UI_DISCONNECTED, wParam, lParam);
  if (m_reconnectRunning) {
    ReconnectFailed();
  } else if (lost && !m_suspended) {
    // A new loss: the tries count from it.
    m_reconnectTry = 0;
    m_lostAt = GetTickCount();
    m_lostGame = SendMessageA(Item(IDC_ACC_GAME_LIST), CB_GETCURSEL, 0, 0);
    ScheduleReconnect();
  }
  return 0;
}

LRESULT CAccMainDlg::OnTunnelDialing(WPARAM wParam, LPARAM lParam) {
  TunnelAnswered();
  PostToSelf(WM_UI_DIALING, wParam, lParam);
  return 0;
}

LRESULT CAccMainDlg::OnTunnelClosing(WPARAM, LPARAM) {
  TunnelAnswered();
  SetStatus("正在断开加速连接...");
  return 0;
}

LRESULT CAccMainDlg::OnTunnelStatus(WPARAM, LPARAM lParam) {
  TunnelAnswered();
  SetStatus(TextOf(lParam));
  return 0;
}

LRESULT CAccMainDlg::OnAccountVerified(WPARAM lineId, LPARAM) {
  CConfigStore& store = ConfigStore();
  // The line that was checked, even if the selection has moved since.
  m_dialLine = static_cast<int>(lineId);
  const ServerItem* line = store.m_lines.FindById(m_dialLine);
  if (m_suspended) {
    // The check was asked before the PC went to sleep; the resume dials again.
    SetIdle();
    return 0;
  }
  SetStatus("帐号验证成功，正在连接加速服务器...");
  if (!m_hModule || !line) {
    SetIdle();  // nothing will dial: leave the page usable
    ReconnectFailed();
    return 0;
  }
  // One check at a time is over: a line chosen from now on applies to the next connection.
  // Connect stays off until the tunnel answers.
  EnableItem(IDC_ACC_SELECT_LINE, true);
  m_pfnStart(line->host.c_str(), line->name.c_str(), "", store.m_accountUser.c_str(),
             store.m_loginCode.c_str(), 0);
  SetTimer(kStartTimer, kStartAnswerMs);
  return 0;
}

LRESULT CAccMainDlg::OnAccountRejected(WPARAM result, LPARAM) {
  // The line cannot have changed during the check: its button and menu command are off.
  // The service's page takes code 0 for a check: lParam says only who decided.
  OpenErrorPage(static_cast<int>(result), 0,
                m_reconnectRunning ? m_dialLine : ConfigStore().m_selectedLine);
  EnableItem(IDC_ACC_CONNECT, true);
  EnableItem(IDC_ACC_SELECT_LINE, true);
  ReconnectFailed();
  return 0;
}

LRESULT CAccMainDlg::OnRouteFailed(WPARAM, LPARAM) {
  CRunLog::WriteText("加速路由设置失败，游戏数据不经过加速连接！\r\n");
  // Only the connection that the job was for: after a disconnect the status is not its own.
  if (IsItemEnabled(IDC_ACC_DISCONNECT)) SetStatus("加速连接成功，但加速路由设置失败！");
  return 0;
}

LRESULT CAccMainDlg::OnOtherVpn(WPARAM, LPARAM) {
  // The job sends it only when its routes are set: a route failure keeps its own text.
  if (IsItemEnabled(IDC_ACC_DISCONNECT)) SetStatus("加速连接成功，但检测到其他VPN连接，加速效果可能受影响");
  return 0;
}

LRESULT CAccMainDlg::OnTrafficText(WPARAM wParam, LPARAM lParam) {
  if (wParam == 0 && lParam) SetItemText(IDC_ACC_SPEED, TextOf(lParam));
  return 0;
}

LRESULT CAccMainDlg::OnShowAccount(WPARAM, LPARAM) {
  const CConfigStore& store = ConfigStore();
  EnableItem(IDC_ACC_CONNECT, true);
  EnableItem(IDC_ACC_DISCONNECT, false);
  SetItemText(IDC_ACC_USER, store.m_accountUser);
  SetItemText(IDC_ACC_KIND, store.m_accountKind);
  SetItemText(IDC_ACC_EXPIRY, store.m_expiry);
  return 0;
}

LRESULT CAccMainDlg::OnUiDialing(WPARAM, LPARAM) {
  CConfigStore& store = ConfigStore();
  EnableItem(IDC_ACC_CONNECT, false);
  EnableItem(IDC_ACC_DISCONNECT, false);
  const ServerItem* line = store.m_lines.FindById(m_dialLine >= 0 ? m_dialLine : store.m_selectedLine);
  if (line) store.m_connSrv = line->id;
  return 0;
}

LRESULT CAccMainDlg::OnUiConnected(WPARAM, LPARAM) {
  const CConfigStore& store = ConfigStore();
  EnableItem(IDC_ACC_CONNECT, false);
  EnableItem(IDC_ACC_DISCONNECT, true);
  EnableItem(IDC_ACC_GAME_LIST, false);
  m_pView->OpenUrl(store.ClientPageUrl("/new_index.php"));
  SetStatus("加速连接成功");
  if (m_reconnectRunning) {
    // Back by itself: the player is in the game already and is not asked to start it.
    CancelReconnect();
    Notice("加速连接成功");
    return 0;
  }
  OfferGameLaunch();
  return 0;
}

void CAccMainDlg::OfferGameLaunch() {
  const CAppItem* game = ConfigStore().FindGame(ConfigStore().m_modeApp);
  if (!game || game->m_regKey.empty()) return;  // a game without a start command
  GameLaunch launch;
  std::string why;
  if (!FindGameLaunch(game->m_regKey, game->m_regValue, &launch, &why)) {
    CRunLog::WriteText(Format("不提示启动游戏%s：%s\r\n", ShowControlBytes(game->m_name).c_str(),
                              why.c_str()));
    return;
  }
  char question[1200];
  std::snprintf(question, sizeof question, "需要现在启动 %s 吗？", game->m_name.c_str());
  if (AccelMessageBox(m_hWnd, question, "启动游戏", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
  CRunLog::WriteText(Format("启动游戏：%s\r\n", ShowControlBytes(launch.program).c_str()));
  std::string folder = ProgramFolderOf(launch.program);
  CommandRunner().RunProgram(launch.program.c_str(), launch.commandLine.c_str(), folder.c_str(),
                             SW_SHOW);
}

void CAccMainDlg::SetIdle() {
  EnableItem(IDC_ACC_CONNECT, true);
  // A waiting reconnection can be stopped.
  EnableItem(IDC_ACC_DISCONNECT, m_reconnectTry > 0 && !m_reconnectRunning);
  EnableItem(IDC_ACC_GAME_LIST, true);
  EnableItem(IDC_ACC_SELECT_LINE, true);
}

LRESULT CAccMainDlg::OnUiIdle(WPARAM, LPARAM) {
  SetIdle();
  return 0;
}

void CAccMainDlg::TunnelAnswered() { KillTimer(kStartTimer); }

void CAccMainDlg::ScheduleReconnect() {
  m_reconnectRunning = false;
  if (m_reconnectTry >= kReconnectTries || !m_hModule) {
    CancelReconnect();
    SetStatus(kLost);
    SetIdle();
    Notice(kLost);
    return;
  }
  ++m_reconnectTry;
  DWORD since = GetTickCount() - m_lostAt;
  DWORD due = kReconnectAfterMs[m_reconnectTry - 1];
  SetTimer(kReconnectTimer, due > since ? due - since : 1);
  char text[96];
  std::snprintf(text, sizeof text, "加速连接中断，正在重新连接（第%d次）...", m_reconnectTry);
  SetStatus(text);
  SetIdle();
  // The first word of a loss, and of a connection back after a sleep.
  if (m_reconnectTry == 1) Notice(text);
}

void CAccMainDlg::CancelReconnect() {
  KillTimer(kReconnectTimer);
  m_reconnectTry = 0;
  m_reconnectRunning = false;
}

void CAccMainDlg::ReconnectFailed() {
  if (m_reconnectRunning) ScheduleReconnect();
}

void CAccMainDlg::RunReconnect() {
  KillTimer(kReconnectTimer);
  CConfigStore& store = ConfigStore();
  m_reconnectRunning = true;
  // The same line as the lost connection, checked and dialled through the whole road.
  if (!store.PostToWorker(WM_WORKER_CONNECT, static_cast<WPARAM>(m_dialLine),
                          reinterpret_cast<LPARAM>(m_hWnd))) {
    ScheduleReconnect();
    return;
  }
  EnableItem(IDC_ACC_CONNECT, false);
  EnableItem(IDC_ACC_DISCONNECT, false);
  EnableItem(IDC_ACC_SELECT_LINE, false);
}

void CAccMainDlg::OnPowerEvent(WPARAM event) {
  if (event == PBT_APMSUSPEND) {
    // Checking, dialing, connected or closing: the connect button is off in all of them.
    bool active = !IsItemEnabled(IDC_ACC_CONNECT) || m_reconnectTry > 0;
    if (!active || m_suspended) return;
    m_suspended = true;
    m_resumeWanted = true;
    CancelReconnect();
    KillTimer(kResumeTimer);
    // Its 30 s would run across the sleep and end the connection as unanswered.
    KillTimer(kStartTimer);
    // The line does not survive the sleep: hung up as by the disconnect button.
    if (m_hModule) m_pfnClose();
    return;
  }
  if ((event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) && m_suspended) {
    m_suspended = false;
    m_resumedAt = GetTickCount();
    SetTimer(kResumeTimer, 1000);
  }
}

void CAccMainDlg::CheckResume() {
  if (!m_resumeWanted) {
    KillTimer(kResumeTimer);
    return;
  }
  if (!HasDefaultRoute() && GetTickCount() - m_resumedAt < kResumeWaitMs) return;
  KillTimer(kResumeTimer);
  m_resumeWanted = false;
  // The first try at once: the network is there.
  m_reconnectTry = 0;
  m_lostAt = GetTickCount() - kReconnectAfterMs[0];
  m_lostGame = SendMessageA(Item(IDC_ACC_GAME_LIST), CB_GETCURSEL, 0, 0);
  ScheduleReconnect();
}

LRESULT CAccMainDlg::OnTimer(WPARAM id, LPARAM) {
  if (id == kStartTimer) {
    KillTimer(kStartTimer);
    CRunLog::WriteText(
        "加速模块30秒内没有回应连接请求（没有工作线程，或它认为已经连接或正在连接），"
        "本次连接已放弃.\r\n");
    // A message that the module still sends later moves the page to the state it reports.
    SetStatus("加速模块没有回应，本次连接已取消！");
    SetIdle();
    ReconnectFailed();
    return 0;
  }
  if (id == kReconnectTimer) {
    RunReconnect();
    return 0;
  }
  if (id == kResumeTimer) {
    CheckResume();
    return 0;
  }
  if (id != kTickTimer) return 0;
  CConfigStore& store = ConfigStore();
  // Another game chosen: the waiting reconnection was for the old one.
  if (m_reconnectTry > 0 && !m_reconnectRunning &&
      SendMessageA(Item(IDC_ACC_GAME_LIST), CB_GETCURSEL, 0, 0) != m_lostGame) {
    CancelReconnect();
    SetStatus(kLost);
    SetIdle();
  }
  if (m_hModule) m_pfnTimer();
  store.PostToWorker(WM_WORKER_TICK, store.m_directRoute.dwForwardIfIndex,
                     reinterpret_cast<LPARAM>(m_hWnd));
  return 0;
}
