// End-to-end scenarios: the real accelclient.exe under Wine against the service stand-in and
// the simulated dial-up service, driven from outside like a user drives it. Each test is one
// start of the client and walks through several steps, because a start costs seconds.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/test_support/stub_client.h"
#include "tests/e2e/client_session.h"
#include "tools/gui_driver/gui_driver.h"

namespace {

using e2e::ClientSession;
using testing_support::ReadFileBytes;
using testing_support::SetStubMode;
using testing_support::WriteFileBytes;

// Acceleration page controls.
const int kLineLabel = 1003;
const int kGameList = 1004;
const int kConnect = 1005;
const int kStatus = 1009;
const int kDisconnect = 1010;
const int kLineButton = 1031;
const int kUser = 1014;
const int kKind = 1015;
const int kExpiry = 1016;
const int kSpeed = 1022;

// Frame commands.
const WPARAM kMenuAbout = 30000;
const WPARAM kTrayExit = 30002;
const WPARAM kMenuVisitSite = 30005;
const WPARAM kMenuExit = 30006;
const WPARAM kMenuClearAccount = 30017;
const WPARAM kMenuViewLog = 30018;
const WPARAM kMenuSelectLine = 30028;
const UINT kTrayNotify = WM_APP + 1;

const UINT kAccountVerified = WM_USER + 111;

const char kConnected[] = "加速连接成功";
// A connection whose address no interface carries: no route leads to it, and the route job
// fails. Without the simulated network every connection here is one.
const char kConnectedNoRoutes[] = "加速连接成功，但加速路由设置失败！";
const char kRouteExists[] = "添加路由失败：路由项已经存在.\r\n";

const char* ConnectedText() { return e2e::Netsim() ? kConnected : kConnectedNoRoutes; }
const char kDisconnected[] = "加速连接已经断开";
const char kLost[] = "加速连接中断！";
const char kReconnecting1[] = "加速连接中断，正在重新连接（第1次）...";
const WPARAM kTrayConnect = 30003;
const WPARAM kTrayDisconnect = 30004;



std::string Ini(const ClientSession& s, const char* key) {
  char buf[256];
  GetPrivateProfileStringA("User", key, "<none>", buf, sizeof buf, s.CachePath("user.ini").c_str());
  return buf;
}

// The stand-in's fault switch, set back to normal when the scenario leaves.
class StubMode {
 public:
  StubMode(const char* path, const char* mode) : m_path(path) {
    EXPECT_TRUE(SetStubMode(path, mode)) << path << "=" << mode;
  }
  ~StubMode() { SetStubMode(m_path, "normal"); }

 private:
  const char* m_path;
};

// The idle state of the page's buttons: connect on, disconnect off, game list on.
void ExpectIdle(HWND page) {
  EXPECT_TRUE(gui::WaitEnabled(gui::FindControl(page, kConnect), true, e2e::kStepMs));
  EXPECT_FALSE(gui::IsEnabled(gui::FindControl(page, kDisconnect)));
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kGameList)));
}

void ExpectConnected(HWND page) {
  EXPECT_FALSE(gui::IsEnabled(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kDisconnect)));
  EXPECT_FALSE(gui::IsEnabled(gui::FindControl(page, kGameList)));
}

// The message box expected now, checked and answered.
void Answer(ClientSession& s, const char* caption, const std::string& text, int button) {
  gui::MessageBoxInfo box = s.WaitBox();
  ASSERT_NE(box.box, nullptr) << "no message box \"" << text << "\"";
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  EXPECT_TRUE(gui::AnswerMessageBox(box.box, button, e2e::kStepMs));
}

bool WaitRequest(const char* path, const std::string& part, DWORD ms) {
  DWORD end = GetTickCount() + ms;
  while (!e2e::RequestWithQuery(path, part)) {
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(100);
  }
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The client's own run log (the tunnel module writes Cache\run.log).
std::string ClientLog(const ClientSession& s) {
  std::string log;
  ReadFileBytes(s.CachePath("velavpn.log"), &log);
  return log;
}

// While the account check runs, the line can be chosen neither with the page's button nor
// with the menu command; once the check has passed it can (for the next connection), while
// connect stays off until the tunnel answers. The check must take long enough.
void LineChoiceFollowsTheCheck(ClientSession& s, HWND frame, HWND page) {
  HWND lineButton = gui::FindControl(page, kLineButton);
  EXPECT_TRUE(gui::WaitEnabled(lineButton, false, e2e::kStepMs));
  DWORD ms = 0;
  // Refused at once: a line dialog would hold the call in its modal loop.
  EXPECT_TRUE(gui::TimedSend(frame, WM_COMMAND, kMenuSelectLine, 0, 3000, &ms, nullptr));
  EXPECT_EQ(gui::WaitTopWindow({s.Pid(), "#32770", e2e::kLineDialogTitle, true}, 0), nullptr);
  EXPECT_TRUE(gui::WaitEnabled(lineButton, true, e2e::kDialMs));
  EXPECT_FALSE(gui::IsEnabled(gui::FindControl(page, kConnect)));
}

// A start that the tunnel module refuses (it believes itself connected) or never receives
// (no worker thread) is answered by nothing. Stood in for by a positive check told to the
// page while the module is connected: 30 s later the page gives the attempt up, idle with a
// log line, and a message the module sends after that still moves it.
void StartThatTheModuleNeverAnswers(ClientSession& s, HWND page) {
  HWND status = gui::FindControl(page, kStatus);
  PostMessageA(page, kAccountVerified, 101, 0);
  EXPECT_TRUE(gui::WaitText(status, "帐号验证成功，正在连接加速服务器...", e2e::kStepMs));
  DWORD start = GetTickCount();
  EXPECT_TRUE(gui::WaitEnabled(gui::FindControl(page, kConnect), true, 45000));
  DWORD waited = GetTickCount() - start;
  EXPECT_GE(waited, 28000u);
  EXPECT_LT(waited, 35000u);
  EXPECT_EQ("加速模块没有回应，本次连接已取消！", gui::GetText(status));
  ExpectIdle(page);
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kLineButton)));
  EXPECT_NE(s.RunLog().find("已经连接上加速网络，不能同时连接多个加速服务器\r\n"),
            std::string::npos);
  EXPECT_NE(ClientLog(s).find("加速模块30秒内没有回应连接请求"), std::string::npos);
  PostMessageA(page, WM_COMMAND, MAKEWPARAM(kDisconnect, BN_CLICKED), 0);
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ExpectIdle(page);
}

// A file that another program writes one line into: it exists as soon as that program opens
// it, so only its line end says that the line is whole.
bool WaitLineWritten(const std::string& path, DWORD ms, std::string* line) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    line->clear();
    if (ReadFileBytes(path, line) && !line->empty() && (*line)[line->size() - 1] == '\n')
      return true;
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(100);
  }
}

size_t CountOf(const std::string& text, const char* part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool WaitPixels(HWND w, COLORREF color) {
  for (DWORD waited = 0; e2e::ScreenPixels(w, color) == 0; waited += 100) {
    if (waited >= e2e::kStepMs) return false;
    Sleep(100);
  }
  return true;
}

// The login dialog's banner page and its two links: each link drawn in the link colour, in
// the hover colour while the pointer is over it and in the link colour again once the
// pointer has left; a click opens its page in the default browser.
void CheckBannerAndLinks(ClientSession& s, HWND login) {
  EXPECT_TRUE(WaitRequest("/mini.php", "c=main", e2e::kStepMs)) << "no banner page";
  ASSERT_TRUE(s.CatchCommands());
  e2e::BrowserStandIn browser(s);
  const COLORREF normal = RGB(0, 0, 238), hover = RGB(192, 0, 192);
  const struct {
    int id;
    const char* url;
  } links[] = {{1021, "http://127.0.0.1/register"}, {1034, "http://127.0.0.1/changepw"}};
  for (const auto& link : links) {
    HWND w = gui::FindControl(login, link.id);
    ASSERT_NE(w, nullptr) << link.id;
    EXPECT_TRUE(WaitPixels(w, normal)) << link.id;
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id;
    // The pointer itself goes there (a move of the real pointer elsewhere would end the
    // hover), and the link is told of the move at once.
    RECT r = gui::WindowRect(w);
    SetCursorPos(r.left + 2, r.top + 2);
    PostMessageA(w, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(WaitPixels(w, hover)) << link.id << " under the pointer";
    EXPECT_EQ(e2e::ScreenPixels(w, normal), 0) << link.id << " under the pointer";
    SetCursorPos(r.right + 4, r.bottom + 4);
    PostMessageA(w, WM_MOUSEMOVE, 0, MAKELPARAM(r.right - r.left + 4, r.bottom - r.top + 4));
    EXPECT_TRUE(WaitPixels(w, normal)) << link.id << " after the pointer left";
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id << " after the pointer left";
    ASSERT_TRUE(gui::Click(w));
    EXPECT_TRUE(s.WaitCommand(std::string(" \"") + link.url + "\"", e2e::kStepMs))
        << "caught: " << s.Commands();
  }
}

// The rows that hold text: some pixels of the colour, but not a line across (a separator).
std::vector<int> TextRows(const std::vector<int>& pixelsPerRow, int width) {
  std::vector<int> rows;
  for (size_t y = 0; y < pixelsPerRow.size(); ++y) {
    if (pixelsPerRow[y] >= 2 && pixelsPerRow[y] < width / 2) rows.push_back(static_cast<int>(y));
  }
  return rows;
}

std::string Lower(std::string text) {
  CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

// The frame's menu commands and the tray icon on a running client: the line dialog from the
// menu with the page's label following it, About, the run log in notepad, the site in
// explorer; the icon's double-click shows the hidden window and its right-click opens the
// tray menu.
void DriveMenusAndTray(ClientSession& s, HWND frame, HWND page) {
  PostMessageA(frame, WM_COMMAND, kMenuSelectLine, 0);
  EXPECT_TRUE(s.PickLine(101, nullptr));
  EXPECT_TRUE(gui::WaitText(gui::FindControl(page, kLineLabel), "电信一区 电信专线", e2e::kStepMs));

  PostMessageA(frame, WM_COMMAND, kMenuAbout, 0);
  gui::WindowQuery about{s.Pid(), "#32770", "关于 Vela网游加速器", true};
  HWND box = gui::WaitTopWindow(about, e2e::kStepMs);
  ASSERT_NE(box, nullptr) << "no About dialog";
  EXPECT_TRUE(gui::Click(gui::FindControl(box, IDOK)));
  EXPECT_TRUE(gui::WaitNoTopWindow(about, e2e::kStepMs));

  PostMessageA(frame, WM_COMMAND, kMenuViewLog, 0);
  PostMessageA(frame, WM_COMMAND, kMenuVisitSite, 0);
  // Started by the desktop's shell, as the user: the Windows directory's explorer, its
  // argument the quoted address.
  EXPECT_TRUE(s.WaitCommand("\\explorer.exe\" \"http://127.0.0.1\"", e2e::kStepMs)) << s.Commands();
  EXPECT_NE(Lower(s.Commands()).find(Lower("notepad \"" + s.CachePath("run.log") + "\"")),
            std::string::npos)
      << s.Commands();
  EXPECT_EQ(s.Planted(), "");

  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(gui::WaitNoTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs));
  PostMessageA(frame, kTrayNotify, 1, WM_LBUTTONDBLCLK);
  EXPECT_NE(gui::WaitTopWindow({s.Pid(), "AccelMainFrame", e2e::kTitle, true}, e2e::kStepMs),
            nullptr)
      << "the double-click did not show the window";
  // A menu closes when its owner loses the foreground, as on Windows. Under Wine the X
  // server's report that the window lost the focus when it was hidden can come in after it
  // was shown again and the menu opened: Wine then hands the foreground to the desktop and
  // the menu closes at once. A user would right-click again: so does this step, up to three
  // times, before it calls the menu missing.
  gui::WindowQuery menu{s.Pid(), "#32768", nullptr, true};
  HWND popup = nullptr;
  std::vector<int> working, greyed;
  const int inset = 4;
  for (int attempt = 0; attempt < 3 && working.empty(); ++attempt) {
    PostMessageA(frame, kTrayNotify, 1, WM_RBUTTONUP);
    popup = gui::WaitTopWindow(menu, 3000);
    if (!popup) continue;
    // Connect and disconnect (30003, 30004) have no handler in the frame: greyed, drawn
    // between the two items that work, "显示主窗口" above and "退出" below.
    RECT area = gui::WindowRect(popup);
    const int width = area.right - area.left - 2 * inset;
    for (int tries = 0; tries < 50 && working.empty() && gui::IsVisible(popup); ++tries) {
      Sleep(100);
      working = TextRows(e2e::ScreenPixelRows(popup, GetSysColor(COLOR_MENUTEXT), inset), width);
      greyed = TextRows(e2e::ScreenPixelRows(popup, GetSysColor(COLOR_GRAYTEXT), inset), width);
    }
    // Rows read after the menu closed belong to whatever was under it.
    if (!gui::IsVisible(popup)) working.clear();
  }
  ASSERT_NE(popup, nullptr) << "no tray menu";
  EXPECT_FALSE(working.empty()) << "nothing drawn in the tray menu";
  EXPECT_FALSE(greyed.empty()) << "no greyed item in the tray menu";
  if (!working.empty() && !greyed.empty()) {
    EXPECT_LT(working.front(), greyed.front());
    EXPECT_LT(greyed.back(), working.back());
  }
  PostMessageA(frame, WM_CANCELMODE, 0, 0);
  EXPECT_TRUE(gui::WaitNoTopWindow(menu, e2e::kStepMs));
}

// A run killed in a scenario leaves the recorder in place of the prefix's programs; the next
// session must neither keep the recorder as the original nor lose the one the killed run
// kept, and its end puts every program back as it was.
TEST(ClientE2E, PrefixProgramsSurviveARunKilledWhileCatchingCommands) {
  char dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(dir, sizeof dir);
  ASSERT_TRUE(n > 0 && n < sizeof dir);
  const std::string notepad = std::string(dir, n) + "\\notepad.exe";
  std::string original, recorder, now;
  ASSERT_TRUE(ReadFileBytes(notepad, &original));
  ASSERT_TRUE(ReadFileBytes(testing_support::EnvPath("COMMAND_RECORDER"), &recorder));
  ASSERT_NE(original, recorder) << "the prefix holds the recorder already";
  // Never ended, as a killed run's session never ends.
  ClientSession* killed = new ClientSession("e2e_killed", nullptr);
  ASSERT_TRUE(killed->CatchCommands());
  ASSERT_TRUE(ReadFileBytes(notepad, &now));
  ASSERT_EQ(now, recorder);
  {
    ClientSession next("e2e_after_kill", nullptr);
    ASSERT_TRUE(next.CatchCommands());
    ASSERT_TRUE(ReadFileBytes(notepad, &now));
    EXPECT_EQ(now, recorder);
  }
  ASSERT_TRUE(ReadFileBytes(notepad, &now));
  EXPECT_TRUE(now == original) << "notepad.exe did not come back as it was";
  EXPECT_EQ(GetFileAttributesA((notepad + ".e2e-original").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ClientE2E, LoginRefusedTwiceThenCancelledLeavesNoWindow) {
  ClientSession s("e2e_cancel", nullptr);
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\n"));
  ASSERT_TRUE(s.Start());
  HWND login = s.WaitLogin();
  ASSERT_NE(login, nullptr) << "no login dialog titled " << e2e::kTitle;
  CheckBannerAndLinks(s, login);

  // A one-character name is refused before anything is sent.
  size_t logins = e2e::Requests("login");
  ASSERT_TRUE(s.SubmitLogin(login, "t", "pass01"));
  Answer(s, "输入错误", "请输入用户名、密码登录！", IDOK);
  EXPECT_EQ(e2e::Requests("login"), logins);

  // A wrong password goes to the login server and comes back refused.
  ASSERT_TRUE(s.SubmitLogin(login, "test01", "PASS01"));
  Answer(s, "密码错误", "输入的用户名/密码验证错误！\n请注意：密码区分大小写。", IDOK);
  EXPECT_GT(e2e::Requests("login"), logins);
  EXPECT_TRUE(gui::WaitEnabled(gui::FindControl(login, IDOK), true, e2e::kStepMs));

  // Cancel: the program ends without ever making its main window (and so its tray icon,
  // which belongs to that window).
  ASSERT_TRUE(gui::Click(gui::FindControl(login, IDCANCEL)));
  ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
  EXPECT_EQ(gui::WaitTopWindow({0, "AccelMainFrame", nullptr, false}, 0), nullptr);
}

TEST(ClientE2E, EmptyGameListAtHighDpiThenTrayAndSessionEnd) {
  // 120 logical pixels per inch, read by the client when it starts.
  e2e::SetLogPixels(120);
  ClientSession s("e2e_tray", nullptr);
  // No list from the service: the cached one, with no games, is used.
  StubMode lists("/servers2.0.php", "500");
  ASSERT_TRUE(WriteFileBytes(s.CachePath("servers.xml"),
                             "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Data>\r\n<Apps>\r\n"
                             "</Apps>\r\n<LoginServer>\r\n"
                             "<Server Address=\"127.0.0.1\" Port=\"8001\"/>\r\n"
                             "</LoginServer>\r\n</Data>\r\n"));
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\nMODE_APP=3\r\nCONN_SRV=0\r\n"));
  // No tunnel modules: the client says so once and goes on without them.
  ASSERT_TRUE(DeleteFileA((s.Dir() + "\\tunnel_xp.dll").c_str()));
  ASSERT_TRUE(DeleteFileA((s.Dir() + "\\tunnel_w7.dll").c_str()));
  ASSERT_TRUE(s.CatchCommands());
  ASSERT_TRUE(s.Start());
  HWND login = s.WaitLogin();
  ASSERT_NE(login, nullptr);
  // Both kept settings on, for the clearing of the saved account further on.
  for (int box : {1002, 1003}) {
    SendMessageA(gui::FindControl(login, box), BM_SETCHECK, BST_CHECKED, 0);
  }
  ASSERT_TRUE(s.SubmitLogin(login, "test02", "pass02"));
  gui::MessageBoxInfo noModule = gui::WaitMessageBox(s.Pid(), e2e::kFirstFrameMs);
  ASSERT_NE(noModule.box, nullptr) << s.RunLog();
  EXPECT_EQ(noModule.caption, "严重错误");
  EXPECT_EQ(noModule.text, "无法加载必须的库文件！");
  EXPECT_TRUE(gui::AnswerMessageBox(noModule.box, IDOK, e2e::kStepMs));
  HWND frame = s.MainFrame(e2e::kFirstFrameMs);
  e2e::SetLogPixels(0);
  ASSERT_NE(frame, nullptr) << s.RunLog();

  RECT r = gui::WindowRect(frame);
  EXPECT_EQ(r.right - r.left, 800);
  EXPECT_EQ(r.bottom - r.top, 658);
  EXPECT_TRUE(e2e::TrayIconShown(frame, 1));

  HWND page = s.AccelPage(frame);
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(gui::WaitText(gui::FindControl(page, kUser), "test02", e2e::kStepMs));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kKind)), "免费积分用户");
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kExpiry)), e2e::LocalExpiry(1893456000));
  EXPECT_TRUE(gui::ComboItems(gui::FindControl(page, kGameList)).empty());

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  Answer(s, "错误", "请先选择游戏模式！", IDOK);
  DriveMenusAndTray(s, frame, page);

  // The close box hides the window; the program stays in the tray.
  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(gui::WaitNoTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs));
  EXPECT_TRUE(s.Running());

  // A session that ends with the client in the tray keeps the settings.
  DeleteFileA(s.CachePath("user.ini").c_str());
  bool allowed = false;
  EXPECT_TRUE(gui::EndSession(frame, ENDSESSION_LOGOFF, e2e::kStepMs, &allowed));
  EXPECT_TRUE(allowed);
  EXPECT_EQ(Ini(s, "NAME"), "test02");
  EXPECT_EQ(Ini(s, "MODE_APP"), "3");
  EXPECT_EQ(Ini(s, "CONN_SRV"), "0");
  EXPECT_EQ(Ini(s, "RUN_COUNTER"), "2");
  EXPECT_EQ(Ini(s, "REMEMBER"), "1");
  EXPECT_EQ(Ini(s, "AUTO_LOGIN"), "1");
  EXPECT_NE(Ini(s, "PASSWD"), "");

  // The tray menu's exit ends the program and writes the file again, without the account
  // that was cleared before.
  DeleteFileA(s.CachePath("user.ini").c_str());
  if (s.Running()) {
    PostMessageA(frame, WM_COMMAND, kMenuClearAccount, 0);
    Answer(s, "成功", "保存的帐号已经清除，下次启动加速器时需要重新输入用户名、密码！", IDOK);
    PostMessageA(frame, WM_COMMAND, kTrayExit, 0);
    ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
    EXPECT_FALSE(e2e::TrayIconShown(frame, 1));
    EXPECT_EQ(Ini(s, "MODE_APP"), "3");
    EXPECT_EQ(Ini(s, "CONN_SRV"), "0");
    EXPECT_EQ(Ini(s, "PASSWD"), "");
    EXPECT_EQ(Ini(s, "REMEMBER"), "0");
    EXPECT_EQ(Ini(s, "AUTO_LOGIN"), "0");
  }
}

// The simulated network (scripts/netns.sh): the PC's interface lan0 with its gateway, the
// resolver behind it, and each connection's tunnel interface (ppp0, ppp1, ...) with its
// route to the tunnel server.
const char kDefaultRoute[] = "0.0.0.0/0 198.18.0.1 lan0";
const char kGatewayRoute[] = "198.18.0.1/32 0.0.0.0 lan0";
const char kTunnelServerRoute[] = "10.8.0.1/32 0.0.0.0 ";
const char kResolverRoute[] = "198.19.0.0/24 198.18.0.1 lan0";
// The first game's list (route_1.xml): two networks through the tunnel, one direct; and one
// address in each, and one outside both, that its stand-in sends to.
const char kRemoteNets[][20] = {"192.0.2.0/24", "198.51.100.0/25"};
const char kDirectRoute[] = "203.0.113.0/24 198.18.0.1 lan0";
const char kRemoteHost[] = "192.0.2.10";
const char kDirectHost[] = "203.0.113.10";
const char kOtherHost[] = "198.51.100.200";

bool HasRoute(const std::vector<std::string>& routes, const std::string& route) {
  return std::find(routes.begin(), routes.end(), route) != routes.end();
}

// The tunnel interface of the table: the one with the route to the tunnel server; "" when
// there is none.
std::string TunnelInterface(const std::vector<std::string>& routes) {
  for (const std::string& route : routes) {
    if (route.compare(0, std::strlen(kTunnelServerRoute), kTunnelServerRoute) == 0)
      return route.substr(std::strlen(kTunnelServerRoute));
  }
  return std::string();
}

// Waits until the table is that of the first game's routes: its remote networks on-link
// through the tunnel, its direct network and the resolver's through the PC's gateway, the
// default route as it was, and nothing else.
bool WaitFirstGameRoutes(DWORD ms, std::vector<std::string>* got) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    *got = e2e::KernelRoutes();
    std::string tunnel = TunnelInterface(*got);
    std::vector<std::string> want = {kDefaultRoute, kGatewayRoute, kTunnelServerRoute + tunnel,
                                     kResolverRoute, kDirectRoute};
    for (const char* net : kRemoteNets) want.push_back(std::string(net) + " 0.0.0.0 " + tunnel);
    std::sort(want.begin(), want.end());
    if (!tunnel.empty() && *got == want) return true;
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(200);
  }
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// Nothing through the tunnel is left once it is gone; the direct routes stay (the client
// never deletes a route).
// No route through any tunnel interface, waited for (the Windows 7 hang-up does not wait for
// the system's command).
bool WaitNoTunnelRoute(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    std::vector<std::string> routes = e2e::KernelRoutes();
    if (TunnelInterface(routes).empty()) return true;
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(200);
  }
}

void ExpectTunnelRoutesGone(const char* after) {
  std::vector<std::string> routes = e2e::KernelRoutes();
  for (const std::string& route : routes) {
    EXPECT_EQ(route.find(" ppp"), std::string::npos) << after << ": " << route;
  }
  EXPECT_TRUE(HasRoute(routes, kDefaultRoute)) << after << ":\n" << Joined(routes);
  EXPECT_TRUE(HasRoute(routes, kResolverRoute)) << after << ":\n" << Joined(routes);
}

// "上传：%.1f kb，下载：%.1f kb" with both figures above 0, waited for.
bool WaitTraffic(HWND page, DWORD ms, std::string* text) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    *text = gui::GetText(gui::FindControl(page, kSpeed));
    float up = 0, down = 0;
    if (std::sscanf(text->c_str(), "上传：%f kb，下载：%f kb", &up, &down) == 2 && up > 0 &&
        down > 0)
      return true;
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(200);
  }
}

// The stand-in game's record: "<address> sent <n> echoed <m>" a line.
bool GameCounts(const std::string& record, const char* host, int* sent, int* echoed) {
  std::string prefix = std::string(host) + " sent ";
  size_t at = record.find(prefix);
  return at != std::string::npos &&
         std::sscanf(record.c_str() + at + prefix.size(), "%d echoed %d", sent, echoed) == 2;
}

// While connected with the first game's routes, the game's datagrams to a remote network
// reach the tunnel's far end and every other one the PC's own network; the game gets its
// echoes; the speed line (the former default route's interface) counts the traffic.
void CheckGameTraffic(HWND page, const std::string& record) {
  std::string traffic;
  EXPECT_TRUE(WaitTraffic(page, e2e::kStepMs, &traffic)) << "speed line: " << traffic;
  std::string counts;
  ASSERT_TRUE(WaitLineWritten(record, 20000, &counts)) << "no record of the game: " << counts;
  const struct {
    const char* host;
    const char* via;
    const char* notVia;
  } flows[] = {{kRemoteHost, "ppp", "lan0"}, {kDirectHost, "lan0", "ppp"},
               {kOtherHost, "lan0", "ppp"}};
  for (const auto& flow : flows) {
    int sent = 0, echoed = 0;
    ASSERT_TRUE(GameCounts(counts, flow.host, &sent, &echoed)) << counts;
    EXPECT_GT(sent, 0) << flow.host;
    EXPECT_GT(echoed, sent * 9 / 10) << flow.host;
    EXPECT_LE(echoed, sent) << flow.host;
    EXPECT_EQ(e2e::Packets(flow.via, flow.host).size(), static_cast<size_t>(sent)) << flow.host;
    EXPECT_TRUE(e2e::Packets(flow.notVia, flow.host).empty()) << flow.host;
  }
}

// The line drops under a connection with no word from the dial-up service: the module finds
// it within a few seconds, the page says so and dials the same line again by itself, with
// no launch offer. Returns with the connection back.
void DropAndReconnect(ClientSession& s, HWND page) {
  HWND status = gui::FindControl(page, kStatus);
  size_t dials = e2e::Requests("/vpn_auth.php");
  ASSERT_TRUE(s.DropLines());
  DWORD dropped = GetTickCount();
  ASSERT_TRUE(gui::WaitText(status, kReconnecting1, e2e::kStepMs)) << gui::GetText(status);
  DWORD noticed = GetTickCount() - dropped;
  // Two status checks a tick apart, or the next poll of the connection list.
  EXPECT_LT(noticed, 4000u);
  // Waiting: connect starts a connection of the user's own, disconnect stops the waiting.
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kDisconnect)));
  if (e2e::Netsim()) {
    for (const std::string& route : e2e::KernelRoutes())
      EXPECT_EQ(route.find(" ppp"), std::string::npos) << "after the drop: " << route;
  }
  EXPECT_TRUE(WaitRequest("/error.php", "errno=1000&code=1", e2e::kStepMs));
  ASSERT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
  DWORD back = GetTickCount() - dropped;
  std::printf("line dropped: the page knew after %lu ms, connected again after %lu ms\n",
              static_cast<unsigned long>(noticed), static_cast<unsigned long>(back));
  EXPECT_GE(back, 5000u);  // the first try waits five seconds
  EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
  ExpectConnected(page);
  EXPECT_EQ(s.WaitBox(1500).box, nullptr);
}

// Another VPN's interface vpn0, made by the stand-in on request; "" when it answered OK.
std::string OtherVpn(const std::string& query) {
  std::string body;
  int status = testing_support::HttpRequest(80, "GET", "/_vpn?" + query, "", &body);
  return status == 200 && body == "OK" ? std::string() : std::to_string(status) + " " + body;
}

// Another VPN, up before the connection. First with routes into the game's networks: one
// more specific than the game's /24, one to the game's /25 itself (the table answers 5010);
// both are named in the log with the interface that wins, the status tells the route failure,
// and the game's datagrams to the overlapped network go where the kernel's table sends them,
// to vpn0. Then with the two halves of the default route: the routes are set, and the status
// warns of the other VPN. Ends connected, without the other VPN.
void AnotherVpnTakesTheGamesTraffic(ClientSession& s, HWND page, const std::string& started,
                                    const std::string& gameRecord) {
  HWND status = gui::FindControl(page, kStatus);
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
  ASSERT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ASSERT_EQ(OtherVpn("up=10.9.0.2&peer=10.9.0.1&net=192.0.2.0/25&net=198.51.100.0/25"), "");
  DeleteFileA(started.c_str());
  DeleteFileA(gameRecord.c_str());
  size_t logAt = ClientLog(s).size();
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::WaitText(status, kConnectedNoRoutes, e2e::kDialMs))
      << gui::GetText(status) << "\n" << Joined(e2e::KernelRoutes());
  Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDOK);
  std::string log = ClientLog(s).substr(logAt);
  EXPECT_NE(log.find("加速路由未生效：192.0.2.0/255.255.255.0 的数据走接口"), std::string::npos) << log;
  EXPECT_NE(log.find("加速路由已被其他接口占用：198.51.100.0/255.255.255.128 走接口"), std::string::npos)
      << log;
  EXPECT_EQ(gui::GetText(status), kConnectedNoRoutes);
  std::string counts;
  ASSERT_TRUE(WaitLineWritten(gameRecord, 20000, &counts)) << "no record of the game: " << counts;
  int sent = 0, echoed = 0;
  ASSERT_TRUE(GameCounts(counts, kRemoteHost, &sent, &echoed)) << counts;
  EXPECT_GT(sent, 0);
  EXPECT_EQ(e2e::Packets("vpn0", kRemoteHost).size(), static_cast<size_t>(sent));

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
  ASSERT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ASSERT_EQ(OtherVpn("down"), "");
  ASSERT_EQ(OtherVpn("up=10.9.0.2&peer=10.9.0.1&halves=1"), "");
  logAt = ClientLog(s).size();
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::WaitText(status, "加速连接成功，但检测到其他VPN连接，加速效果可能受影响", e2e::kDialMs))
      << gui::GetText(status) << "\n" << ClientLog(s).substr(logAt);
  Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
  log = ClientLog(s).substr(logAt);
  EXPECT_EQ(CountOf(log, "检测到其他VPN连接：接口"), 1u) << log;
  EXPECT_EQ(log.find("加速路由未生效"), std::string::npos) << log;

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
  ASSERT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ASSERT_EQ(OtherVpn("down"), "");
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::WaitText(status, kConnected, e2e::kDialMs)) << gui::GetText(status);
  Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
}

TEST(ClientE2E, AccelerationWithTheXpModule) {
  ClientSession s("e2e_xp", "winxp");
  // The first game's start command: a harmless program that writes down its current folder,
  // in a folder with a blank, named through a variable, with a planted program at the
  // blank; then the game's stand-in, which talks to a server of each kind for a few seconds.
  char sys[MAX_PATH];
  GetSystemDirectoryA(sys, sizeof sys);
  std::string started = s.Dir() + "\\game_started.txt";
  std::string gameRecord = s.Dir() + "\\game_traffic.txt";
  const std::string gameDir = s.Dir() + "\\Online Games\\x";
  ASSERT_TRUE(CreateDirectoryA((s.Dir() + "\\Online Games").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(gameDir.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA((std::string(sys) + "\\cmd.exe").c_str(), (gameDir + "\\cmd.exe").c_str(),
                        FALSE));
  ASSERT_TRUE(CopyFileA(testing_support::EnvPath("PLANTED_PROGRAM").c_str(),
                        (s.Dir() + "\\Online.exe").c_str(), FALSE));
  s.SetEnv("ACCEL_GAME_ROOT", s.Dir().c_str());
  const char* gameKey = "SOFTWARE\\VelaSample\\LongCheng";
  ASSERT_TRUE(e2e::SetMachineString(
      gameKey, "StartCmd",
      "%ACCEL_GAME_ROOT%\\Online Games\\x\\cmd /c cd > \"" + started + "\" & \"" + s.Dir() +
          "\\netsim_game.exe\" \"" + gameRecord + "\" 4 " + kRemoteHost + " " + kDirectHost + " " +
          kOtherHost,
      REG_EXPAND_SZ));
  ASSERT_TRUE(s.CatchCommands());
  std::vector<std::string> routes;
  if (e2e::Netsim()) {
    // No tunnel yet: the PC's own network, as the stand-in made it.
    routes = e2e::KernelRoutes();
    EXPECT_TRUE(HasRoute(routes, kDefaultRoute)) << Joined(routes);
    EXPECT_EQ(TunnelInterface(routes), "") << Joined(routes);
  }
  // Dials of a few seconds, so that the page can be watched while one is under way.
  s.SetEnv("ACCEL_DIALUP_DELAY_MS", "300");
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\n"));
  ASSERT_TRUE(s.Start());
  HWND frame = s.LoginToMain("test01", "pass01");
  ASSERT_NE(frame, nullptr) << s.RunLog();
  RECT r = gui::WindowRect(frame);
  EXPECT_EQ(r.right - r.left, 640);
  EXPECT_EQ(r.bottom - r.top, 527);

  HWND page = s.AccelPage(frame);
  ASSERT_NE(page, nullptr);
  HWND connect = gui::FindControl(page, kConnect);
  HWND disconnect = gui::FindControl(page, kDisconnect);
  HWND status = gui::FindControl(page, kStatus);
  HWND games = gui::FindControl(page, kGameList);
  EXPECT_TRUE(gui::WaitText(gui::FindControl(page, kUser), "test01", e2e::kStepMs));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kKind)), "付费用户");
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kExpiry)), e2e::LocalExpiry(1924992000));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kLineLabel)), "未选择");
  ExpectIdle(page);
  EXPECT_EQ(gui::ComboItems(games), (std::vector<std::string>{"龙城传说", "天域争霸", "仙侠奇缘",
                                                              "极速飞车", "星海远征"}));
  EXPECT_EQ(gui::ComboSelection(games), 0);

  // No line chosen yet: nothing is sent.
  size_t logins = e2e::Requests("login");
  ASSERT_TRUE(gui::Click(connect));
  Answer(s, "错误", "请先选择加速线路！", IDOK);
  EXPECT_EQ(e2e::Requests("login"), logins);

  std::string latency;
  ASSERT_TRUE(s.ChooseLine(page, 101, &latency)) << "latency text: " << latency;
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kLineLabel)), "电信一区 电信专线");
  ASSERT_TRUE(gui::ComboSelect(games, 0));

  {
    // Connect with a slow account check and a dial of a few seconds: all along, and through
    // the start page that the view opens once connected, the window answers at once.
    StubMode slowCheck("login", "slow:1500");
    ASSERT_TRUE(gui::Click(connect));
    DWORD worst = 0, end = GetTickCount() + e2e::kDialMs;
    bool connected = false, sawDialing = false;
    DWORD afterConnect = 0;
    while (static_cast<LONG>(GetTickCount() - end) < 0) {
      DWORD ms = 0;
      EXPECT_TRUE(gui::TimedSend(frame, WM_NULL, 0, 0, 2000, &ms, nullptr));
      worst = std::max(worst, ms);
      // Dialing: both buttons off while the module reports its progress.
      if (!connected && !gui::IsEnabled(connect) && !gui::IsEnabled(disconnect) &&
          !StartsWith(gui::GetText(status), kConnected)) {
        sawDialing = true;
      }
      if (!connected && StartsWith(gui::GetText(status), kConnected)) {
        connected = true;
        afterConnect = GetTickCount();
      }
      if (connected && GetTickCount() - afterConnect > 2500) break;
      Sleep(50);
    }
    ASSERT_TRUE(connected) << "status: " << gui::GetText(status) << "\n" << s.RunLog();
    EXPECT_LT(worst, 200u);
    EXPECT_TRUE(sawDialing);
    ExpectConnected(page);
    if (e2e::Netsim()) {
      // Only the game's networks through the tunnel, read from the kernel's table.
      EXPECT_TRUE(WaitFirstGameRoutes(e2e::kStepMs, &routes)) << Joined(routes);
      EXPECT_EQ(gui::GetText(status), kConnected);
    } else {
      // The connection and the launch offer stay; the status line tells that the game's
      // traffic goes the old way.
      EXPECT_TRUE(gui::WaitText(status, kConnectedNoRoutes, e2e::kStepMs)) << gui::GetText(status);
      EXPECT_NE(ClientLog(s).find("加速路由设置失败，游戏数据不经过加速连接！\r\n"),
                std::string::npos);
    }
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDOK);
    std::string folder;
    ASSERT_TRUE(WaitLineWritten(started, e2e::kStepMs, &folder))
        << "the game was not started, or did not finish writing: \"" << folder << "\"";
    folder.erase(folder.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ(lstrcmpiA(folder.c_str(), gameDir.c_str()), 0) << "started in " << folder;
    // The dial services through the system directory's own programs, lines as ever.
    for (const char* line : {"sc config TapiSrv start= AUTO\r\n", "sc config RasMan start= AUTO\r\n",
                             "net start TapiSrv\r\n", "net start RasMan\r\n"}) {
      EXPECT_TRUE(s.WaitCommand(line, e2e::kStepMs)) << s.Commands();
    }
    EXPECT_EQ(s.Planted(), "");
    if (e2e::Netsim()) CheckGameTraffic(page, gameRecord);
  }

  ASSERT_TRUE(gui::Click(disconnect));
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ExpectIdle(page);
  if (e2e::Netsim()) ExpectTunnelRoutesGone("after the disconnect");

  {
    // Two quick clicks on connect while the account check is slow: one check, one dial.
    StubMode slowLogin("login", "slow:1500");
    DeleteFileA(started.c_str());
    logins = e2e::Requests("login");
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(gui::MouseClick(connect, 2));
    size_t existing = CountOf(ClientLog(s), kRouteExists);
    LineChoiceFollowsTheCheck(s, frame, page);
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
    Sleep(4000);  // room for a second check and dial to show up
    EXPECT_EQ(e2e::Requests("login") - logins, 1u);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    EXPECT_EQ(gui::GetText(status), ConnectedText());
    if (e2e::Netsim()) {
      // The tunnel's networks again through the new tunnel; the direct network, left from
      // the last connection, is there already: logged as existing, no route failure.
      EXPECT_TRUE(WaitFirstGameRoutes(e2e::kStepMs, &routes)) << Joined(routes);
      EXPECT_EQ(CountOf(ClientLog(s), kRouteExists) - existing, 1u) << ClientLog(s);
    }
    EXPECT_EQ(s.WaitBox(0).box, nullptr);
    EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kLineButton)));
  }
  DropAndReconnect(s, page);
  if (e2e::Netsim()) EXPECT_TRUE(WaitFirstGameRoutes(e2e::kStepMs, &routes)) << Joined(routes);

  {
    // The tray's connect and disconnect do what the buttons do, and only when they could be
    // pressed: a command posted for a greyed item changes nothing.
    PostMessageA(frame, WM_COMMAND, kTrayConnect, 0);
    Sleep(1500);
    EXPECT_EQ(gui::GetText(status), ConnectedText());
    PostMessageA(frame, WM_COMMAND, kTrayDisconnect, 0);
    EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
    ExpectIdle(page);
    size_t dials = e2e::Requests("/vpn_auth.php");
    PostMessageA(frame, WM_COMMAND, kTrayDisconnect, 0);
    PostMessageA(frame, WM_COMMAND, kTrayConnect, 0);
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
  }
  if (e2e::Netsim()) AnotherVpnTakesTheGamesTraffic(s, page, started, gameRecord);
  StartThatTheModuleNeverAnswers(s, page);

  {
    // The service refuses the tunnel password: the dial-up error in the status line, the
    // error page for a tunnel error, buttons back to idle.
    StubMode refuse("/vpn_auth.php", "500");
    ExpectIdle(page);
    ASSERT_TRUE(gui::Click(connect));
    EXPECT_TRUE(gui::WaitText(status,
                              "Access was denied because the username and/or password was "
                              "invalid on the domain.",
                              e2e::kDialMs))
        << gui::GetText(status);
    EXPECT_TRUE(WaitRequest("/error.php", "errno=999&code=691", e2e::kStepMs))
        << "no error page with errno 999";
    ExpectIdle(page);
  }

  PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_TRUE(gui::WaitNoTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs));
  PostMessageA(frame, WM_COMMAND, kTrayExit, 0);
  ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
  EXPECT_EQ(Ini(s, "MODE_APP"), "1");
  EXPECT_EQ(Ini(s, "CONN_SRV"), "101");
  e2e::DeleteMachineKey(gameKey);
}

TEST(ClientE2E, DroppedConnectionUnderTheWindows7Module) {
  ClientSession s("e2e_w7", "win7");
  s.SetEnv("ACCEL_DIALUP_DELAY_MS", "50");
  // The last game has no start command: no launch offer.
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\nMODE_APP=5\r\n"));
  ASSERT_TRUE(s.Start());
  HWND frame = s.LoginToMain("test02", "pass02");
  ASSERT_NE(frame, nullptr) << s.RunLog();
  HWND page = s.AccelPage(frame);
  ASSERT_NE(page, nullptr);
  HWND status = gui::FindControl(page, kStatus);
  EXPECT_EQ(gui::ComboSelection(gui::FindControl(page, kGameList)), 4);
  ASSERT_TRUE(s.ChooseLine(page, 201, nullptr));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kLineLabel)), "网通一区 网通专线");

  {
    // The service refuses the account at the line's check: its error page with the
    // server's result, connect and the line button usable again, nothing dialled.
    StubMode refuse("login", "500");
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
    EXPECT_TRUE(WaitRequest("/error.php", "errno=500&code=0", e2e::kStepMs))
        << "no error page for the refused check";
    EXPECT_TRUE(gui::WaitEnabled(gui::FindControl(page, kConnect), true, e2e::kStepMs));
    EXPECT_TRUE(gui::WaitEnabled(gui::FindControl(page, kLineButton), true, e2e::kStepMs));
    EXPECT_EQ(e2e::Requests("/vpn_auth.php"), dials);
  }

  {
    // A connection that reports an address no interface carries (the stand-in makes no
    // tunnel interface): the route job finds no route to it and fails, the connection stays.
    StubMode noInterface("/_tunnel", "404");
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
    EXPECT_TRUE(gui::WaitText(status, kConnectedNoRoutes, e2e::kDialMs))
        << gui::GetText(status) << "\n" << s.RunLog() << Joined(e2e::KernelRoutes());
    EXPECT_NE(ClientLog(s).find("加速路由设置失败，游戏数据不经过加速连接！\r\n"), std::string::npos);
    ExpectConnected(page);
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
    EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  }

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  ASSERT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs))
      << gui::GetText(status) << "\n" << s.RunLog();
  ExpectConnected(page);
  if (e2e::Netsim()) {
    // The last game lists direct networks only: they go through the PC's gateway, and the
    // tunnel carries nothing but the route to its server.
    std::vector<std::string> routes = e2e::KernelRoutes();
    EXPECT_NE(TunnelInterface(routes), "") << Joined(routes);
  }
  EXPECT_EQ(s.WaitBox(1000).box, nullptr);
  // Another line, chosen while connected, is for the next connection: the error page of
  // this one still names the line that was dialled.
  ASSERT_TRUE(s.ChooseLine(page, 101, nullptr));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kLineLabel)), "电信一区 电信专线");

  // The link goes down: the module notices at its next poll, and the page dials the line
  // of the lost connection again, not the one chosen since.
  DropAndReconnect(s, page);
  EXPECT_TRUE(WaitRequest("/error.php", "errno=1000&code=1&server=127.0.0.3", e2e::kStepMs))
      << "no error page with errno 1000 for the dialled line";

  {
    // Sleep: the line is hung up as by the disconnect button; after the resume, with the
    // PC's network there, it comes back by itself.
    size_t dials = e2e::Requests("/vpn_auth.php");
    PostMessageA(frame, WM_POWERBROADCAST, 4 /* PBT_APMSUSPEND */, 0);
    EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
    if (e2e::Netsim()) EXPECT_TRUE(WaitNoTunnelRoute(e2e::kStepMs)) << "after the suspend";
    PostMessageA(frame, WM_POWERBROADCAST, 18 /* PBT_APMRESUMEAUTOMATIC */, 0);
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    ExpectConnected(page);
  }

  {
    // A second start while the first sits in the tray: it shows the first and ends, having
    // downloaded nothing and logged in nowhere.
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gui::WaitNoTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs));
    size_t lists = e2e::Requests("/servers2.0.php"), logins = e2e::Requests("login");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + s.Dir() + "\\accelclient.exe\"";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               s.Dir().c_str(), &si, &pi));
    DWORD waited = WaitForSingleObject(pi.hProcess, 10000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the second client did not end within 10 s";
    EXPECT_EQ(code, 0u);
    EXPECT_NE(gui::WaitTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs),
              nullptr)
        << "the first client's window was not shown";
    EXPECT_EQ(e2e::Requests("/servers2.0.php"), lists);
    EXPECT_EQ(e2e::Requests("login"), logins);
  }

  {
    // Killed while connected, and started again: the leftover line is hung up with a log
    // line, and the next connection dials the line the user chose.
    std::string before = s.RunLog();
    s.Kill();
    if (e2e::Netsim()) {
      std::vector<std::string> routes = e2e::KernelRoutes();
      EXPECT_NE(TunnelInterface(routes), "") << "the killed client's line\n" << Joined(routes);
    }
    ASSERT_TRUE(s.Start());
    frame = s.LoginToMain("test02", "pass02");
    ASSERT_NE(frame, nullptr) << s.RunLog();
    page = s.AccelPage(frame);
    ASSERT_NE(page, nullptr);
    status = gui::FindControl(page, kStatus);
    std::string log = s.RunLog().substr(before.size() <= s.RunLog().size() ? before.size() : 0);
    EXPECT_NE(log.find("发现上次运行留下的加速连接（客户端IP：10.8.0."), std::string::npos) << log;
    if (e2e::Netsim()) EXPECT_TRUE(WaitNoTunnelRoute(e2e::kStepMs)) << "after the restart";
    EXPECT_EQ(gui::GetText(status), "状态信息");
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(s.ChooseLine(page, 101, nullptr));
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
  }

  PostMessageA(frame, WM_COMMAND, kMenuExit, 0);
  ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
  EXPECT_EQ(Ini(s, "MODE_APP"), "5");
  EXPECT_EQ(Ini(s, "CONN_SRV"), "101");
}

}  // namespace
