// End-to-end scenarios: the real accelclient.exe under Wine against the service stand-in and
// the simulated dial-up service, driven from outside like a user drives it. Each test is one
// start of the client and walks through several steps, because a start costs seconds.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
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
const int kUser = 1014;
const int kKind = 1015;
const int kExpiry = 1016;

// Frame commands.
const WPARAM kTrayExit = 30002;
const WPARAM kMenuExit = 30006;

const char kConnected[] = "加速连接成功";
const char kDisconnected[] = "加速连接已经断开";
const char kLost[] = "加速连接中断！";

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

TEST(ClientE2E, LoginRefusedTwiceThenCancelledLeavesNoWindow) {
  ClientSession s("e2e_cancel", nullptr);
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\n"));
  ASSERT_TRUE(s.Start());
  HWND login = s.WaitLogin();
  ASSERT_NE(login, nullptr) << "no login dialog titled " << e2e::kTitle;

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
  ASSERT_TRUE(s.Start());
  HWND frame = s.LoginToMain("test02", "pass02");
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

  // The tray menu's exit ends the program and writes the file again.
  DeleteFileA(s.CachePath("user.ini").c_str());
  if (s.Running()) {
    PostMessageA(frame, WM_COMMAND, kTrayExit, 0);
    ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
    EXPECT_FALSE(e2e::TrayIconShown(frame, 1));
    EXPECT_EQ(Ini(s, "MODE_APP"), "3");
    EXPECT_EQ(Ini(s, "CONN_SRV"), "0");
  }
}

TEST(ClientE2E, AccelerationWithTheXpModule) {
  ClientSession s("e2e_xp", "winxp");
  // The first game's start command: a harmless program that writes down its current folder.
  char sys[MAX_PATH];
  GetSystemDirectoryA(sys, sizeof sys);
  std::string started = s.Dir() + "\\game_started.txt";
  const char* gameKey = "SOFTWARE\\VelaSample\\LongCheng";
  ASSERT_TRUE(e2e::SetMachineString(gameKey, "StartCmd",
                                    std::string(sys) + "\\cmd.exe /c cd > \"" + started + "\""));
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
    // the start page that the view opens once connected, the window answers at once. (The
    // route list is not fetched here: the simulated connection has no interface, so no route
    // leads to its address and the route job stops before asking.)
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
          gui::GetText(status) != kConnected) {
        sawDialing = true;
      }
      if (!connected && gui::GetText(status) == kConnected) {
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
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDOK);
    std::string folder;
    ASSERT_TRUE(WaitLineWritten(started, e2e::kStepMs, &folder))
        << "the game was not started, or did not finish writing: \"" << folder << "\"";
    folder.erase(folder.find_last_not_of("\r\n ") + 1);
    EXPECT_EQ(lstrcmpiA(folder.c_str(), sys), 0) << "started in " << folder;
  }

  ASSERT_TRUE(gui::Click(disconnect));
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);
  ExpectIdle(page);

  {
    // Two quick clicks on connect while the account check is slow: one check, one dial.
    StubMode slowLogin("login", "slow:1500");
    DeleteFileA(started.c_str());
    logins = e2e::Requests("login");
    size_t dials = e2e::Requests("/vpn_auth.php");
    ASSERT_TRUE(gui::MouseClick(connect, 2));
    EXPECT_TRUE(gui::WaitText(status, kConnected, e2e::kDialMs)) << gui::GetText(status);
    Answer(s, "启动游戏", "需要现在启动 龙城传说 吗？", IDCANCEL);
    Sleep(4000);  // room for a second check and dial to show up
    EXPECT_EQ(e2e::Requests("login") - logins, 1u);
    EXPECT_EQ(e2e::Requests("/vpn_auth.php") - dials, 1u);
    EXPECT_EQ(gui::GetText(status), kConnected);
    EXPECT_EQ(s.WaitBox(0).box, nullptr);
  }
  ASSERT_TRUE(gui::Click(disconnect));
  EXPECT_TRUE(gui::WaitText(status, kDisconnected, e2e::kDialMs)) << gui::GetText(status);

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
  // Long enough for a slow first start to show the connection before it drops.
  s.SetEnv("ACCEL_DIALUP_DROP_MS", "15000");
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

  ASSERT_TRUE(gui::Click(gui::FindControl(page, kConnect)));
  ASSERT_TRUE(gui::WaitText(status, kConnected, e2e::kDialMs))
      << gui::GetText(status) << "\n" << s.RunLog();
  ExpectConnected(page);
  EXPECT_EQ(s.WaitBox(1000).box, nullptr);

  // The link goes down: the module notices at its next poll.
  EXPECT_TRUE(gui::WaitText(status, kLost, 40000)) << gui::GetText(status);
  EXPECT_TRUE(WaitRequest("/error.php", "errno=1000&code=1", e2e::kStepMs))
      << "no error page with errno 1000";
  ExpectIdle(page);
  s.SetEnv("ACCEL_DIALUP_DROP_MS", nullptr);

  PostMessageA(frame, WM_COMMAND, kMenuExit, 0);
  ASSERT_TRUE(s.WaitExit(e2e::kStepMs));
  EXPECT_EQ(Ini(s, "MODE_APP"), "5");
  EXPECT_EQ(Ini(s, "CONN_SRV"), "201");
}

}  // namespace
