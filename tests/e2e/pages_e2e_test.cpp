// The first start of the real client and its pages: the collector library started, the
// welcome dialog with the network tuning, every tool bar button and the diagnostics menu
// showing its own page, the service's pages requested once with the user's identity, and the
// tuning again from the menu.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/client_session.h"
#include "tools/gui_driver/gui_driver.h"

namespace {

using e2e::ClientSession;

const char kTuningDone[] = "设置成功！但在重启电脑后才能生效。";
const char kTuningFailed[] = "设置失败，本设置仅对宽带用户有效。";

struct PageSearch {
  HWND frame;
  std::vector<HWND> visible;
};

// A named CALLBACK, not a lambda: on 32 bits a lambda converts only to a cdecl pointer.
BOOL CALLBACK CollectVisiblePage(HWND w, LPARAM p) {
  PageSearch* s = reinterpret_cast<PageSearch*>(p);
  if (GetParent(w) == s->frame && gui::ClassOf(w) == "#32770" && IsWindowVisible(w))
    s->visible.push_back(w);
  return TRUE;
}

// The frame's pages that show: its child dialogs that are visible.
std::vector<HWND> VisiblePages(HWND frame) {
  PageSearch search{frame, {}};
  EnumChildWindows(frame, CollectVisiblePage, reinterpret_cast<LPARAM>(&search));
  return search.visible;
}

bool WaitRequests(const char* path, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 100) {
    if (e2e::Requests(path) > 0) return true;
    Sleep(100);
  }
  return false;
}

TEST(ClientE2E, FirstStartWelcomesThenEveryButtonShowsItsPage) {
  ClientSession s("e2e_pages", nullptr);  // no user.ini: the first start
  ASSERT_TRUE(s.Start());
  HWND login = s.WaitLogin();
  ASSERT_NE(login, nullptr);
  ASSERT_TRUE(s.SubmitLogin(login, "test01", "pass01"));

  // The welcome dialog comes while the main window is being made.
  HWND welcome = gui::WaitTopWindow({s.Pid(), "#32770", "第一次运行向导", true}, e2e::kFirstFrameMs);
  ASSERT_NE(welcome, nullptr) << s.RunLog();
  EXPECT_EQ(gui::GetText(gui::FindControl(welcome, IDOK)), "确定");
  EXPECT_EQ(gui::GetText(gui::FindControl(welcome, IDCANCEL)), " 忽略");
  EXPECT_TRUE(WaitRequests("/first_run.php", e2e::kStepMs));
  ASSERT_TRUE(gui::Click(gui::FindControl(welcome, IDOK)));
  gui::MessageBoxInfo result = s.WaitBox();
  ASSERT_NE(result.box, nullptr);
  EXPECT_EQ(result.caption, "提示信息");
  EXPECT_TRUE(result.text == kTuningDone || result.text == kTuningFailed) << result.text;
  EXPECT_TRUE(gui::AnswerMessageBox(result.box, IDOK, e2e::kStepMs));

  HWND frame = s.MainFrame(e2e::kFirstFrameMs);
  ASSERT_NE(frame, nullptr);
  // The collector, started before the login, asked for its game list at its first pass.
  EXPECT_TRUE(WaitRequests("/accel_apps.php", e2e::kStepMs));
  HWND accel = s.AccelPage(frame);
  ASSERT_NE(accel, nullptr);

  // Tool bar order, then the diagnostics menu, then back to acceleration: one page shows at
  // a time, a different one for each command.
  const WPARAM commands[] = {30010, 30014, 30008, 30009, 57670, 30022, 30019, 30007};
  std::set<HWND> seen;
  for (WPARAM command : commands) {
    PostMessageA(frame, WM_COMMAND, command, 0);
    Sleep(300);
    std::vector<HWND> shown = VisiblePages(frame);
    ASSERT_EQ(shown.size(), 1u) << "command " << command;
    seen.insert(shown[0]);
    if (command == 30007) {
      EXPECT_EQ(shown[0], accel);
    } else if (command == 30019) {
      EXPECT_NE(gui::FindControl(shown[0], 1023), nullptr) << "the diagnostics page";
    } else {
      EXPECT_NE(gui::FindControl(shown[0], 1012), nullptr) << "a page of the service";
    }
    gui::ScreenshotBmp((s.Dir() + "\\page-" + std::to_string(command) + ".bmp").c_str());
  }
  EXPECT_EQ(seen.size(), 8u);
  for (const char* path : {"/tools.php", "/new_recharge.php", "/game_cards.php", "/hot_games.php",
                           "/new_help.php", "/ak_voice.php", "/new_index.php"}) {
    EXPECT_TRUE(WaitRequests(path, e2e::kStepMs)) << path;
  }

  // The tuning from the menu: its question, then the same result as at the welcome.
  PostMessageA(frame, WM_COMMAND, 30026, 0);
  gui::MessageBoxInfo question = s.WaitBox();
  ASSERT_NE(question.box, nullptr);
  EXPECT_EQ(question.caption, "提示信息");
  EXPECT_EQ(question.text,
            "本选项为一次性设置，修改后需要重启计算机！\n可降低大约30%的网络游戏延迟。\n"
            "但是会少许增加网络带宽使用！\n\n请确认是否继续？");
  EXPECT_TRUE(gui::AnswerMessageBox(question.box, IDOK, e2e::kStepMs));
  gui::MessageBoxInfo menuResult = s.WaitBox();
  ASSERT_NE(menuResult.box, nullptr);
  EXPECT_EQ(menuResult.text, result.text == kTuningDone ? "设置成功，在重启电脑后才能生效。"
                                                        : "设置失败，本设置仅对有线宽带用户有效。");
  EXPECT_TRUE(gui::AnswerMessageBox(menuResult.box, IDOK, e2e::kStepMs));

  PostMessageA(frame, WM_COMMAND, 30006, 0);
  EXPECT_TRUE(s.WaitExit(e2e::kStepMs));
  char counter[16];
  GetPrivateProfileStringA("User", "RUN_COUNTER", "", counter, sizeof counter,
                           s.CachePath("user.ini").c_str());
  EXPECT_STREQ(counter, "1");
}

}  // namespace
