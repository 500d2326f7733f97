// End-to-end scenarios: the real accelclient.exe under Wine against the service stand-in and
// the simulated dial-up service, driven from outside like a user drives it. Each test is one
// start of the client and walks through several steps, because a start costs seconds.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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
// Line dialog controls.
const int kLineLatency = 1013;
const int kLineRecheck = 1020;
const int kLineTree = 1028;
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

// The window that holds the pointer in w's thread.
HWND CaptureOf(HWND w) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info) ? info.hwndCapture : nullptr;
}

// The login dialog's banner page and its two links: each link drawn in the link colour, in
// the hover colour while the pointer is over it and in the link colour again once the
// pointer has left or another control has taken it; a click opens its page in the default
// browser.
void CheckBannerAndLinks(ClientSession& s, HWND login) {
  EXPECT_TRUE(WaitRequest("/mini.php", "c=main", e2e::kStepMs)) << "no banner page";
  ASSERT_TRUE(s.CatchCommands());
  e2e::BrowserStandIn browser(s);
  const COLORREF normal = RGB(0, 0, 238), hover = RGB(192, 0, 192);
  const struct {
    int id;
    const char* url;
  } links[] = {{1021, "http://127.0.0.1/register"}, {1034, "http://127.0.0.1/changepw"}};
  HWND box = gui::FindControl(login, 1002);
  const LRESULT remember = SendMessageA(box, BM_GETCHECK, 0, 0);
  for (const auto& link : links) {
    HWND w = gui::FindControl(login, link.id);
    ASSERT_NE(w, nullptr) << link.id;
    EXPECT_TRUE(WaitPixels(w, normal)) << link.id;
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id;
    // Only the pointer itself goes there: a posted move as well would race with the
    // pointer's own, and whichever came second, after the check box took the pointer below,
    // would start a hover again. The link holds the pointer to see it leave.
    RECT r = gui::WindowRect(w);
    const LPARAM outside = MAKELPARAM(r.right - r.left + 4, r.bottom - r.top + 4);
    auto enter = [&] {
      SetCursorPos(r.left + 2, r.top + 2);
      return WaitPixels(w, hover);
    };
    EXPECT_TRUE(enter()) << link.id << " under the pointer";
    EXPECT_EQ(e2e::ScreenPixels(w, normal), 0) << link.id << " under the pointer";
    EXPECT_EQ(CaptureOf(w), w) << link.id;
    // A press on the check box takes the pointer; let go off the box, it leaves it unticked.
    SendMessageA(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_TRUE(WaitPixels(w, normal)) << link.id << " once the check box took the pointer";
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id << " once the check box took the pointer";
    // The pointer is still over the link, so a move of it may rightly start a hover again
    // once the box lets go: only the box must have let go.
    SendMessageA(box, WM_LBUTTONUP, 0, MAKELPARAM(-8, -8));
    EXPECT_NE(CaptureOf(w), box) << link.id;

    EXPECT_TRUE(enter()) << link.id << " under the pointer again";
    SetCursorPos(r.right + 4, r.bottom + 4);
    PostMessageA(w, WM_MOUSEMOVE, 0, outside);
    EXPECT_TRUE(WaitPixels(w, normal)) << link.id << " after the pointer left";
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id << " after the pointer left";
    // The pointer's own move and the posted one race: the one handled second comes after
    // the leave, from outside, and must not start a hover.
    SendMessageA(w, WM_MOUSEMOVE, 0, outside);
    EXPECT_NE(CaptureOf(w), w) << link.id << " after a late move";
    EXPECT_EQ(e2e::ScreenPixels(w, hover), 0) << link.id << " after a late move";
    ASSERT_TRUE(gui::Click(w));
    EXPECT_TRUE(s.WaitCommand(std::string(" \"") + link.url + "\"", e2e::kStepMs))
        << "caught: " << s.Commands();
  }
  EXPECT_EQ(SendMessageA(box, BM_GETCHECK, 0, 0), remember);
}

// The rows that hold text: some pixels of the colour, but not a line across (a separator).
std::vector<int> TextRows(const std::vector<int>& pixelsPerRow, int width) {
  std::vector<int> rows;
  for (size_t y = 0; y < pixelsPerRow.size(); ++y) {
    if (pixelsPerRow[y] >= 2 && pixelsPerRow[y] < width / 2) rows.push_back(static_cast<int>(y));
  }
  return rows;
}

// The items of the tray menu as drawn: the middle row of each item's text, working and
// greyed.
struct TrayMenuItems {
  std::vector<int> working, greyed;
};

// Rows of text grouped into the items they belong to, first and last row of each: the gaps
// inside a line of smooth text are smaller than those between two items.
std::vector<std::pair<int, int>> ItemBands(const std::vector<int>& rows) {
  std::vector<std::pair<int, int>> bands;
  for (int r : rows) {
    if (!bands.empty() && r - bands.back().second <= 6) {
      bands.back().second = r;
    } else {
      bands.push_back({r, r});
    }
  }
  return bands;
}

// Opens the tray menu with the icon's right-click, reads it from the screen and closes it.
TrayMenuItems ReadTrayMenu(ClientSession& s, HWND frame) {
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
    // The menu is drawn item by item after it appears: read until both kinds of item are
    // there (one of connect and disconnect is always greyed) and two readings agree.
    RECT area = gui::WindowRect(popup);
    const int width = area.right - area.left - 2 * inset;
    std::vector<int> lastWorking, lastGreyed;
    for (int tries = 0; tries < 50 && gui::IsVisible(popup); ++tries) {
      Sleep(100);
      // Smooth text: the strokes of working text are near its colour; greyed text has its
      // own, which the edges of working text pass through too.
      working = TextRows(e2e::ScreenPixelRows(popup, GetSysColor(COLOR_MENUTEXT), inset, 48), width);
      greyed = TextRows(e2e::ScreenPixelRows(popup, GetSysColor(COLOR_GRAYTEXT), inset, 24), width);
      if (!working.empty() && !greyed.empty() && working == lastWorking && greyed == lastGreyed)
        break;
      lastWorking = working;
      lastGreyed = greyed;
    }
    // Rows read after the menu closed belong to whatever was under it.
    if (!gui::IsVisible(popup)) working.clear();
  }
  EXPECT_NE(popup, nullptr) << "no tray menu";
  EXPECT_FALSE(working.empty()) << "nothing drawn in the tray menu";
  PostMessageA(frame, WM_CANCELMODE, 0, 0);
  EXPECT_TRUE(gui::WaitNoTopWindow(menu, e2e::kStepMs));
  TrayMenuItems items;
  std::vector<std::pair<int, int>> strong = ItemBands(working);
  for (const auto& b : strong) items.working.push_back((b.first + b.second) / 2);
  for (const auto& b : ItemBands(greyed)) {
    bool inWorking = false;
    for (const auto& w : strong) inWorking = inWorking || (b.first <= w.second && w.first <= b.second);
    if (!inWorking) items.greyed.push_back((b.first + b.second) / 2);
  }
  return items;
}

// "显示主窗口", "连接加速器", "断开加速器", "退出" with exactly one of the middle two greyed:
// connect while connected, disconnect otherwise.
void ExpectTrayMenu(const TrayMenuItems& items, bool connected, const char* when) {
  ASSERT_EQ(items.working.size(), 3u) << "items drawn working " << when;
  ASSERT_EQ(items.greyed.size(), 1u) << "items drawn greyed " << when;
  size_t above = connected ? 0 : 1;
  EXPECT_LT(items.working[above], items.greyed[0]) << when;
  EXPECT_LT(items.greyed[0], items.working[above + 1]) << when;
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
  // Idle: connect works (it asks for a game first), disconnect is greyed.
  ExpectTrayMenu(ReadTrayMenu(s, frame), false, "while idle");
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

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// A game's route list as the stand-in serves it: networks through the tunnel, direct ones.
struct GameNets {
  std::vector<std::string> remote, direct;
};
const GameNets kFirstGame = {{"192.0.2.0/24", "198.51.100.0/25"}, {"203.0.113.0/24"}};
const GameNets kFifthGame = {{}, {"203.0.113.0/24", "198.51.100.0/24"}};

// The table with no connection once the game's routes have been set: the one before the
// client's first connection, the resolver's pin and the game's direct networks through the
// PC's gateway (the client never deletes a route), nothing through a tunnel, nothing else.
std::vector<std::string> IdleTable(std::vector<std::string> before, const GameNets& game) {
  before.push_back(kResolverRoute);
  for (const std::string& net : game.direct) before.push_back(net + " 198.18.0.1 lan0");
  std::sort(before.begin(), before.end());
  before.erase(std::unique(before.begin(), before.end()), before.end());
  return before;
}

// Waits until the kernel's table is exactly `idle`, or with `game` set, exactly `idle` with
// the tunnel server's route and the game's remote networks on-link through one tunnel.
bool WaitTable(const std::vector<std::string>& idle, const GameNets* game, DWORD ms,
               std::vector<std::string>* got) {
  DWORD end = GetTickCount() + ms;
  for (;;) {
    *got = e2e::KernelRoutes();
    std::vector<std::string> want = idle;
    std::string tunnel = TunnelInterface(*got);
    if (game) {
      want.push_back(kTunnelServerRoute + tunnel);
      for (const std::string& net : game->remote) want.push_back(net + " 0.0.0.0 " + tunnel);
      std::sort(want.begin(), want.end());
    }
    if (*got == want && (!game || !tunnel.empty())) return true;
    if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
    Sleep(200);
  }
}

// The speed line set anew: cleared here, then waited for until the page writes it again.
bool NextSpeedText(HWND page, std::string* text) {
  HWND speed = gui::FindControl(page, kSpeed);
  if (!gui::SetText(speed, "")) return false;
  for (DWORD waited = 0;; waited += 50) {
    *text = gui::GetText(speed);
    if (!text->empty()) return true;
    if (waited >= e2e::kStepMs) return false;
    Sleep(50);
  }
}

// The route job's end. The page's worker takes its jobs in turn: the route job, then the
// next tick, whose speed figure it posts to the page after any failure report of the route
// job. So a speed line written twice after the table was whole comes after that report.
bool WaitRouteJobEnd(HWND page) {
  std::string text;
  return NextSpeedText(page, &text) && NextSpeedText(page, &text);
}

// Connected with the game's routes: the whole table, and the status once the route job has
// ended (a job that fails after the connection shows in it).
void ExpectConnectedTable(HWND page, const std::vector<std::string>& idle, const GameNets& game,
                          const char* when) {
  std::vector<std::string> routes;
  EXPECT_TRUE(WaitTable(idle, &game, e2e::kStepMs, &routes)) << when << ":\n" << Joined(routes);
  EXPECT_TRUE(WaitRouteJobEnd(page)) << when << ": the speed line was not written again";
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kStatus)), kConnected) << when;
}

void ExpectIdleTable(const std::vector<std::string>& idle, const char* when) {
  std::vector<std::string> routes;
  EXPECT_TRUE(WaitTable(idle, nullptr, e2e::kStepMs, &routes))
      << when << ", want:\n" << Joined(idle) << "got:\n" << Joined(routes);
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

// Kilobits a second between two readings of an interface's counters, as the speed line counts.
double Kbps(unsigned long long from, unsigned long long to, DWORD ms) {
  return ms ? static_cast<double>(to - from) * 8 / ms : 0;
}

// The speed line shows the former default route's interface (lan0): its figures, averaged
// over a few of its readings, against lan0's kernel counters over the same seconds. The
// game sends twice as much through lan0 as through the tunnel, so a meter of the tunnel's
// interface (or of loopback) is off by half. Measured: the averages within 0.7% of the
// counters on the 64-bit lane (72.7 against 72.6 kb, 72.9 against 73.4) and within 0.4% on
// the emulated 32-bit one (73.0 against 73.3) with the fuzzers beside it. 10% allowed: about
// 0.3 s of the game's sending over the 3 s compared, still far short of the tunnel's half.
void CheckSpeedLine(HWND page) {
  const double kTolerance = 0.10;
  std::string tunnel = TunnelInterface(e2e::KernelRoutes());
  ASSERT_NE(tunnel, "");
  e2e::IfBytes lan0a, lan0b, tunnela, tunnelb;
  std::string text;
  // A reading that began before the first counters are read is not of these seconds.
  ASSERT_TRUE(NextSpeedText(page, &text));
  ASSERT_TRUE(e2e::ReadIfBytes("lan0", &lan0a) && e2e::ReadIfBytes(tunnel.c_str(), &tunnela));
  double up = 0, down = 0;
  const int kReadings = 3;
  for (int i = 0; i < kReadings; ++i) {
    float u = 0, d = 0;
    ASSERT_TRUE(NextSpeedText(page, &text));
    ASSERT_EQ(std::sscanf(text.c_str(), "上传：%f kb，下载：%f kb", &u, &d), 2) << text;
    up += u / kReadings;
    down += d / kReadings;
  }
  ASSERT_TRUE(e2e::ReadIfBytes("lan0", &lan0b) && e2e::ReadIfBytes(tunnel.c_str(), &tunnelb));
  const DWORD ms = lan0b.at - lan0a.at;
  const double lanUp = Kbps(lan0a.tx, lan0b.tx, ms), lanDown = Kbps(lan0a.rx, lan0b.rx, ms);
  const double tunUp = Kbps(tunnela.tx, tunnelb.tx, ms);
  std::printf("speed line %.1f/%.1f kb; lan0 %.1f/%.1f kb, %s %.1f kb up over %lu ms\n", up,
              down, lanUp, lanDown, tunnel.c_str(), tunUp, static_cast<unsigned long>(ms));
  // The tunnel's share must tell the two apart, or the check proves nothing.
  EXPECT_GT(std::fabs(tunUp - lanUp), 2 * kTolerance * lanUp) << "the tunnel carried as much";
  EXPECT_NEAR(up, lanUp, kTolerance * lanUp) << "upload against lan0's sent bytes";
  EXPECT_NEAR(down, lanDown, kTolerance * lanDown) << "download against lan0's received bytes";
}

// The stand-in game's record: "<address> sent <n> echoed <m>" a line.
bool GameCounts(const std::string& record, const char* host, int* sent, int* echoed) {
  std::string prefix = std::string(host) + " sent ";
  size_t at = record.find(prefix);
  return at != std::string::npos &&
         std::sscanf(record.c_str() + at + prefix.size(), "%d echoed %d", sent, echoed) == 2;
}

// Seconds the game's stand-in sends for: room for the speed line's readings while it does,
// also on the slow emulated 32-bit lane.
const int kGameSeconds = 12;

// While connected with the first game's routes, the game's datagrams to a remote network
// reach the tunnel's far end and every other one the PC's own network; the game gets its
// echoes; the speed line counts lan0's traffic. `mark`: the packet record before the game.
void CheckGameTraffic(HWND page, const std::string& record, size_t mark) {
  std::string traffic;
  EXPECT_TRUE(WaitTraffic(page, e2e::kStepMs, &traffic)) << "speed line: " << traffic;
  CheckSpeedLine(page);
  std::string counts;
  ASSERT_TRUE(WaitLineWritten(record, kGameSeconds * 1000 + 20000, &counts))
      << "no record of the game: " << counts;
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
    EXPECT_EQ(e2e::Packets(mark, flow.via, "udp", flow.host, 7777).size(),
              static_cast<size_t>(sent))
        << flow.host;
    EXPECT_TRUE(e2e::Packets(mark, flow.notVia, "udp", flow.host, 7777).empty()) << flow.host;
  }
}

// The line drops under a connection with no word from the dial-up service: the module finds
// it within a few seconds, the page says so and dials the same line again by itself, with
// no launch offer; the table meanwhile is the idle one (`idle`, null without the simulated
// network). Returns with the connection back.
// With a frame given, the player is in a game: the window sits in the tray during the drop,
// and the tray's balloon tells of the loss and of the line back.
void DropAndReconnect(ClientSession& s, HWND page, const std::vector<std::string>* idle,
                      HWND inTray = nullptr) {
  HWND status = gui::FindControl(page, kStatus);
  size_t dials = e2e::Requests("/vpn_auth.php");
  if (inTray) {
    PostMessageA(inTray, WM_CLOSE, 0, 0);
    ASSERT_TRUE(gui::WaitNoTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs));
  }
  ASSERT_TRUE(s.DropLines());
  DWORD dropped = GetTickCount();
  ASSERT_TRUE(gui::WaitText(status, kReconnecting1, e2e::kStepMs)) << gui::GetText(status);
  DWORD noticed = GetTickCount() - dropped;
  EXPECT_LT(noticed, e2e::kNoticeMs);
  // Waiting: connect starts a connection of the user's own, disconnect stops the waiting.
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kDisconnect)));
  if (idle) ExpectIdleTable(*idle, "after the drop");
  EXPECT_TRUE(WaitRequest("/error.php", "errno=1000&code=1", e2e::kStepMs));
  // The shell shows a balloon a moment after it is asked to.
  if (inTray) {
    EXPECT_TRUE(e2e::WaitTrayBalloon(kReconnecting1, e2e::kStepMs)) << "no balloon of the loss";
  }
  ASSERT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
  DWORD back = GetTickCount() - dropped;
  if (inTray) {
    EXPECT_TRUE(e2e::WaitTrayBalloon(kConnected, e2e::kStepMs)) << "no balloon of the line back";
    PostMessageA(inTray, kTrayNotify, 1, WM_LBUTTONDBLCLK);
    EXPECT_NE(gui::WaitTopWindow({s.Pid(), "AccelMainFrame", e2e::kTitle, true}, e2e::kStepMs),
              nullptr);
  }
  std::printf("line dropped: the page knew after %lu ms, connected again after %lu ms\n",
              static_cast<unsigned long>(noticed), static_cast<unsigned long>(back));
  EXPECT_GE(back, 5000u);  // the first try waits five seconds
  EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
  ExpectConnected(page);
  EXPECT_EQ(s.WaitBox(1500).box, nullptr);
}

// The line dialog's figures in the simulated network, whose stand-in answers the lines
// 401 to 403 behind lan0 with a delay and a loss set per line: every line measured when the
// dialog opens and the best of each group marked, the loss shown, and exactly four echo
// requests for each check of a line, whether at the opening, on selecting it or on a recheck.
void CheckLineFigures(ClientSession& s, HWND page) {
  const char* const kShaped[] = {"198.18.8.11", "198.18.8.12", "198.18.8.13"};
  const int kDelayMs[] = {300, 40, 120};
  std::string body;
  for (int i = 0; i < 3; ++i) {
    std::string query = std::string("/_netem?dst=") + kShaped[i] +
                        "&delay_ms=" + std::to_string(kDelayMs[i]) + (i == 0 ? "&loss_pct=25" : "");
    ASSERT_EQ(testing_support::HttpRequest(80, "GET", query, "", &body), 200) << body;
  }
  auto echoes = [](const char* host) { return e2e::Packets(0, "lan0", "icmp", host, -1).size(); };
  size_t before[3];
  for (int i = 0; i < 3; ++i) before[i] = echoes(kShaped[i]);

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kLineButton)));
  gui::WindowQuery q{s.Pid(), "#32770", e2e::kLineDialogTitle, true};
  HWND dlg = gui::WaitTopWindow(q, e2e::kFirstFrameMs);
  HWND tree = gui::WaitControl(dlg, kLineTree, e2e::kStepMs);
  ASSERT_NE(tree, nullptr);
  // Every line gets its figure without being selected: "名称（…）", in the order of the tree.
  std::vector<gui::TreeItem> items;
  auto allMeasured = [&] {
    items = gui::TreeItems(tree);
    size_t lines = 0, shown = 0;
    for (const gui::TreeItem& it : items) {
      if (it.depth != 2) continue;
      ++lines;
      shown += it.text.find("（") != std::string::npos;
    }
    return lines >= 8 && shown == lines;
  };
  bool measured = false;
  for (DWORD waited = 0; !(measured = allMeasured()) && waited < 6000; waited += 100) Sleep(100);
  std::string texts;
  for (const gui::TreeItem& it : items) texts += it.text + "\n";
  ASSERT_TRUE(measured) << texts;
  std::printf("line dialog at the opening:\n%s", texts.c_str());

  // The figure of each shaped line within its delay and the time Wine and the machine add.
  auto figure = [](const std::string& text, const std::string& name, const std::string& rest,
                   int low, int high) {
    const std::string head = name + "（";
    if (text.compare(0, head.size(), head) != 0) return false;
    int ms = std::atoi(text.c_str() + head.size());
    std::string tail = text.substr(head.size() + std::to_string(ms).size());
    return ms >= low && ms < high && tail == rest;
  };
  std::map<LPARAM, std::string> byId;
  std::map<HANDLE, int> starsOfGroup;
  HANDLE group = nullptr;
  for (const gui::TreeItem& it : items) {
    if (it.depth == 1) group = it.item;
    if (it.depth != 2) continue;
    byId[it.data] = it.text;
    starsOfGroup[group] += it.text.size() > 3 && it.text.compare(it.text.size() - 3, 3, " ★") == 0;
  }
  EXPECT_TRUE(figure(byId[401], "测速一线", " ms，丢包25%）", 300, 500)) << texts;
  EXPECT_TRUE(figure(byId[402], "测速二线", " ms） ★", 40, 240)) << texts;
  EXPECT_TRUE(figure(byId[403], "测速三线", " ms）", 120, 320)) << texts;
  // Loopback lines answer every probe: one best in each of their groups too.
  EXPECT_TRUE(figure(byId[201], "网通一区", " ms）", 0, 200) || figure(byId[201], "网通一区", " ms） ★", 0, 200))
      << texts;
  for (const auto& g : starsOfGroup) EXPECT_EQ(g.second, 1) << texts;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(echoes(kShaped[i]), before[i] + 4) << "echo requests at the opening";

  // Selecting the lossy line checks it again, alone: four more, its figure the same kind.
  HANDLE lossy = nullptr;
  for (const gui::TreeItem& it : items) {
    if (it.data == 401) lossy = it.item;
  }
  ASSERT_TRUE(gui::TreeSelect(tree, lossy));
  for (DWORD waited = 0; echoes(kShaped[0]) < before[0] + 8 && waited < 3000; waited += 100) Sleep(100);
  Sleep(1500);  // the last probe's second of waiting, and any probe too many
  EXPECT_EQ(echoes(kShaped[0]), before[0] + 8) << "echo requests of a selected line";
  EXPECT_EQ(echoes(kShaped[1]), before[1] + 4);
  HWND latency = gui::FindControl(dlg, kLineLatency);
  std::string shown = gui::GetText(latency);
  EXPECT_TRUE(figure("测速一线（" + shown + "）", "测速一线", " ms，丢包25%）", 300, 500)) << shown;

  // A recheck measures them all again.
  ASSERT_TRUE(gui::Click(gui::FindControl(dlg, kLineRecheck)));
  for (DWORD waited = 0; echoes(kShaped[2]) < before[2] + 8 && waited < 3000; waited += 100) Sleep(100);
  Sleep(1500);
  EXPECT_EQ(echoes(kShaped[0]), before[0] + 12) << "echo requests of a recheck";
  EXPECT_EQ(echoes(kShaped[1]), before[1] + 8);
  EXPECT_EQ(echoes(kShaped[2]), before[2] + 8);

  EXPECT_TRUE(gui::Click(gui::FindControl(dlg, IDCANCEL)));
  EXPECT_TRUE(gui::WaitNoTopWindow(q, e2e::kStepMs));
  for (const char* host : kShaped) {
    testing_support::HttpRequest(80, "GET", std::string("/_netem?dst=") + host, "", &body);
  }
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
  EXPECT_EQ(e2e::Packets(0, "vpn0", "udp", kRemoteHost, 7777).size(), static_cast<size_t>(sent));

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
          "\\netsim_game.exe\" \"" + gameRecord + "\" " + std::to_string(kGameSeconds) + " " + kRemoteHost + " " + kDirectHost + " " +
          kOtherHost,
      REG_EXPAND_SZ));
  ASSERT_TRUE(s.CatchCommands());
  std::vector<std::string> routes, idle;
  if (e2e::Netsim()) {
    // No tunnel yet: the PC's own network, as the stand-in made it.
    routes = e2e::KernelRoutes();
    EXPECT_TRUE(HasRoute(routes, kDefaultRoute)) << Joined(routes);
    EXPECT_EQ(TunnelInterface(routes), "") << Joined(routes);
    idle = IdleTable(routes, kFirstGame);
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

  if (e2e::Netsim()) CheckLineFigures(s, page);
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
    EXPECT_LT(worst, e2e::kAnswerMs);
    EXPECT_TRUE(sawDialing);
    ExpectConnected(page);
    if (e2e::Netsim()) {
      // Only the game's networks through the tunnel, read from the kernel's table.
      ExpectConnectedTable(page, idle, kFirstGame, "connected");
    } else {
      // The connection and the launch offer stay; the status line tells that the game's
      // traffic goes the old way.
      EXPECT_TRUE(gui::WaitText(status, kConnectedNoRoutes, e2e::kStepMs)) << gui::GetText(status);
      EXPECT_NE(ClientLog(s).find("加速路由设置失败，游戏数据不经过加速连接！\r\n"),
                std::string::npos);
    }
    const size_t mark = e2e::PacketMark();
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
    if (e2e::Netsim()) CheckGameTraffic(page, gameRecord, mark);
  }

  ASSERT_TRUE(gui::Click(disconnect));
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ExpectIdle(page);
  if (e2e::Netsim()) ExpectIdleTable(idle, "after the disconnect");

  {
    // Two quick clicks on connect while the account check is slow: one check, one dial.
    StubMode slowLogin("login", "slow:1500");
    DeleteFileA(started.c_str());
    logins = e2e::Requests("login");
    size_t dials = e2e::Requests("/vpn_auth.php");
    size_t existing = CountOf(ClientLog(s), kRouteExists);
    ASSERT_TRUE(gui::MouseClick(connect, 2));
    LineChoiceFollowsTheCheck(s, frame, page);
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
    Sleep(4000);  // room for a second check and dial to show up
    EXPECT_EQ(e2e::Requests("login") - logins, 1u);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    EXPECT_EQ(gui::GetText(status), ConnectedText());
    if (e2e::Netsim()) {
      // The tunnel's networks again through the new tunnel; the direct network, left from
      // the last connection, is there already: logged as existing (read once the route job
      // has ended), no route failure.
      ExpectConnectedTable(page, idle, kFirstGame, "connected again");
      EXPECT_EQ(CountOf(ClientLog(s), kRouteExists) - existing, 1u) << ClientLog(s);
    }
    EXPECT_EQ(s.WaitBox(0).box, nullptr);
    EXPECT_TRUE(gui::IsEnabled(gui::FindControl(page, kLineButton)));
  }
  DropAndReconnect(s, page, e2e::Netsim() ? &idle : nullptr, frame);
  if (e2e::Netsim()) ExpectConnectedTable(page, idle, kFirstGame, "after the reconnection");

  {
    // The tray's connect and disconnect follow the buttons: "连接加速器" greyed while
    // connected, "断开加速器" while idle; they do what the buttons do, and a command posted
    // for a greyed item changes nothing.
    ExpectTrayMenu(ReadTrayMenu(s, frame), true, "while connected");
    PostMessageA(frame, WM_COMMAND, kTrayConnect, 0);
    Sleep(1500);
    EXPECT_EQ(gui::GetText(status), ConnectedText());
    PostMessageA(frame, WM_COMMAND, kTrayDisconnect, 0);
    EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
    ExpectIdle(page);
    ExpectTrayMenu(ReadTrayMenu(s, frame), false, "while idle");
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

// The PC moves to another network between two connections (the stand-in's lan1 with its
// gateway 198.18.1.1 takes the default route, lan0 loses its routes): the next connection
// pins the game's direct networks and the resolver through the new gateway, and the speed
// line follows the new interface. The PC is moved back at the end.
void MoveToAnotherNetwork(HWND page) {
  HWND status = gui::FindControl(page, kStatus);
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
  ASSERT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  std::string body;
  ASSERT_EQ(testing_support::HttpRequest(80, "GET", "/_lan?move=new", "", &body), 200) << body;
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  EXPECT_TRUE(gui::WaitText(status, kConnected, e2e::kDialMs)) << gui::GetText(status);
  const std::vector<std::string> wanted = {"0.0.0.0/0 198.18.1.1 lan1", "198.19.0.0/24 198.18.1.1 lan1",
                                           "203.0.113.0/24 198.18.1.1 lan1",
                                           "198.51.100.0/24 198.18.1.1 lan1"};
  std::vector<std::string> routes;
  DWORD end = GetTickCount() + e2e::kStepMs;
  for (;;) {
    routes = e2e::KernelRoutes();
    bool all = true;
    for (const std::string& r : wanted) all = all && HasRoute(routes, r);
    if (all || static_cast<LONG>(GetTickCount() - end) > 0) break;
    Sleep(200);
  }
  for (const std::string& r : wanted) EXPECT_TRUE(HasRoute(routes, r)) << r << "\n" << Joined(routes);
  EXPECT_EQ(gui::GetText(status), kConnected);
  // Datagrams to a direct network, echoed by the stand-in behind lan1: the speed line moves.
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(27015);
  to.sin_addr.s_addr = inet_addr("203.0.113.10");
  char payload[200] = {};
  std::string speed;
  bool moving = false;
  end = GetTickCount() + 8000;
  while (!moving && static_cast<LONG>(GetTickCount() - end) < 0) {
    for (int i = 0; i < 10; ++i)
      sendto(sock, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    Sleep(100);
    speed = gui::GetText(gui::FindControl(page, kSpeed));
    float up = 0, down = 0;
    moving = std::sscanf(speed.c_str(), "上传：%f kb，下载：%f kb", &up, &down) == 2 && up > 0 &&
             down > 0;
  }
  closesocket(sock);
  EXPECT_TRUE(moving) << speed;
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kDisconnect)));
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  EXPECT_EQ(testing_support::HttpRequest(80, "GET", "/_lan?move=back", "", &body), 200) << body;
}

TEST(ClientE2E, DroppedConnectionUnderTheWindows7Module) {
  ClientSession s("e2e_w7", "win7");
  s.SetEnv("ACCEL_DIALUP_DELAY_MS", "50");
  std::vector<std::string> idle;
  if (e2e::Netsim()) idle = IdleTable(e2e::KernelRoutes(), kFifthGame);
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

  // Connect at once: the page says "disconnected" as the system's hang-up command starts,
  // and the module's next dial waits for that command to end rather than meet the old line.
  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  ASSERT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs))
      << gui::GetText(status) << "\n" << s.RunLog();
  ExpectConnected(page);
  // The last game lists direct networks only: they go through the PC's gateway, and the
  // tunnel carries nothing but the route to its server.
  if (e2e::Netsim()) ExpectConnectedTable(page, idle, kFifthGame, "connected");
  EXPECT_EQ(s.WaitBox(1000).box, nullptr);
  // Another line, chosen while connected, is for the next connection: the error page of
  // this one still names the line that was dialled.
  ASSERT_TRUE(s.ChooseLine(page, 101, nullptr));
  EXPECT_EQ(gui::GetText(gui::FindControl(page, kLineLabel)), "电信一区 电信专线");

  // The link goes down: the module notices at its next poll, and the page dials the line
  // of the lost connection again, not the one chosen since.
  DropAndReconnect(s, page, e2e::Netsim() ? &idle : nullptr);
  EXPECT_TRUE(WaitRequest("/error.php", "errno=1000&code=1&server=127.0.0.3", e2e::kStepMs))
      << "no error page with errno 1000 for the dialled line";
  if (e2e::Netsim()) ExpectConnectedTable(page, idle, kFifthGame, "after the reconnection");

  {
    // Sleep: the line is hung up as by the disconnect button; after the resume, with the
    // PC's network there, it comes back by itself.
    size_t dials = e2e::Requests("/vpn_auth.php");
    PostMessageA(frame, WM_POWERBROADCAST, 4 /* PBT_APMSUSPEND */, 0);
    EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
    EXPECT_TRUE(e2e::WaitNoProcess("rasdial.exe", e2e::kStepMs)) << "the hang-up did not end";
    if (e2e::Netsim()) ExpectIdleTable(idle, "after the suspend");
    PostMessageA(frame, WM_POWERBROADCAST, 18 /* PBT_APMRESUMEAUTOMATIC */, 0);
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    ExpectConnected(page);
    if (e2e::Netsim()) ExpectConnectedTable(page, idle, kFifthGame, "after the resume");
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
    const DWORD started = GetTickCount();
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               s.Dir().c_str(), &si, &pi));
    DWORD waited = WaitForSingleObject(pi.hProcess, 10000);
    const DWORD ran = GetTickCount() - started;
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(waited, WAIT_OBJECT_0) << "the second client did not end within 10 s";
    EXPECT_EQ(code, 0u);
    EXPECT_NE(gui::WaitTopWindow({s.Pid(), "AccelMainFrame", nullptr, true}, e2e::kStepMs),
              nullptr)
        << "the first client's window was not shown; the second ran " << ran << " ms";
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
    ASSERT_TRUE(s.Start()) << "error " << GetLastError() << " starting again after the kill";
    frame = s.LoginToMain("test02", "pass02");
    ASSERT_NE(frame, nullptr) << s.RunLog();
    page = s.AccelPage(frame);
    ASSERT_NE(page, nullptr);
    status = gui::FindControl(page, kStatus);
    std::string log = s.RunLog().substr(before.size() <= s.RunLog().size() ? before.size() : 0);
    EXPECT_NE(log.find("发现上次运行留下的加速连接（客户端IP：10.8.0."), std::string::npos) << log;
    EXPECT_TRUE(e2e::WaitNoProcess("rasdial.exe", e2e::kStepMs)) << "the leftover hang-up";
    if (e2e::Netsim()) ExpectIdleTable(idle, "after the restart");
    // Idle, with nothing of the killed client's connection in the status line. Wine keeps no
    // access lists, so the program folder's check always warns here.
    EXPECT_EQ(gui::GetText(status), "程序目录可被其他用户修改，请重新安装到受保护的目录");
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(s.ChooseLine(page, 101, nullptr));
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
    EXPECT_TRUE(gui::WaitText(status, ConnectedText(), e2e::kDialMs)) << gui::GetText(status);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    if (e2e::Netsim()) ExpectConnectedTable(page, idle, kFifthGame, "after the restart");
  }

  if (e2e::Netsim()) MoveToAnotherNetwork(page);

  {
    // A phonebook entry that names a dial library of its own would have the dial-up service
    // load it into its elevated process: not dialled, the error page for the refusal.
    std::string book;
    ASSERT_TRUE(ReadFileBytes(s.CachePath("velanet_0.pbk"), &book));
    ASSERT_TRUE(WriteFileBytes(s.CachePath("velanet_0.pbk"),
                               "[VelaVPN]\r\nCustomDialDll=C:\\planted\\dial.dll\r\n" +
                                   book.substr(book.find("\r\n") + 2)));
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
    EXPECT_TRUE(WaitRequest("/error.php", "errno=999&code=5", e2e::kDialMs)) << s.RunLog();
    ExpectIdle(page);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php"), dials);
    EXPECT_NE(s.RunLog().find("电话簿条目指定了拨号库(C:\\planted\\dial.dll)，拨号未执行！"),
              std::string::npos)
        << s.RunLog();
  }

  PostMessageA(frame, WM_COMMAND, kMenuExit, 0);
  ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
  EXPECT_EQ(Ini(s, "MODE_APP"), "5");
  EXPECT_EQ(Ini(s, "CONN_SRV"), "101");
}

}  // namespace
