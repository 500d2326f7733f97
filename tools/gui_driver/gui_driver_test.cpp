// The GUI driver against a small dialog of its own running as another process: every
// operation the end-to-end scenarios and the demo rely on, in one run of the target.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/gui_driver/gui_driver.h"

namespace {

std::string TargetPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p(path, n);
  return p.substr(0, p.find_last_of('\\') + 1) + "gui_driver_target.exe";
}

class Target {
 public:
  Target() {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + TargetPath() + "\"";
    if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
      CloseHandle(pi_.hThread);
    }
  }
  ~Target() {
    if (!pi_.hProcess) return;
    if (WaitForSingleObject(pi_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 9);
    CloseHandle(pi_.hProcess);
  }
  DWORD Pid() const { return pi_.dwProcessId; }
  bool Ended(DWORD ms) const { return WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0; }

 private:
  PROCESS_INFORMATION pi_ = {};
};

TEST(GuiDriver, DrivesADialogOfAnotherProcess) {
  Target target;
  ASSERT_NE(target.Pid(), 0u);
  gui::WindowQuery q;
  q.pid = target.Pid();
  q.className = "#32770";
  q.title = "驱动测试";
  HWND top = gui::WaitTopWindow(q, 20000);
  ASSERT_NE(top, nullptr);

  // Controls of the child page, found from the top window.
  HWND edit = gui::WaitControl(top, 1000, 5000);
  HWND status = gui::FindControl(top, 1004);
  ASSERT_NE(edit, nullptr);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(gui::FindControl(top, 4242), nullptr);
  EXPECT_TRUE(gui::SetText(edit, "玩家甲"));
  EXPECT_EQ(gui::GetText(edit), "玩家甲");

  // A disabled button cannot be pressed.
  HWND closed = gui::FindControl(top, 1005);
  EXPECT_FALSE(gui::IsEnabled(closed));
  EXPECT_FALSE(gui::Click(closed));

  HWND combo = gui::FindControl(top, 1002);
  EXPECT_EQ(gui::ComboItems(combo), (std::vector<std::string>{"电信一区", "网通一区"}));
  EXPECT_EQ(gui::ComboSelection(combo), CB_ERR);
  EXPECT_TRUE(gui::ComboSelect(combo, 1));
  EXPECT_EQ(gui::ComboSelection(combo), 1);
  EXPECT_TRUE(gui::WaitText(status, "选中 1", 2000));

  HWND tree = gui::FindControl(top, 1003);
  std::vector<gui::TreeItem> items = gui::TreeItems(tree);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].text, "===服务器列表===");
  EXPECT_EQ(items[2].text, "电信一区");
  EXPECT_EQ(items[2].data, 101);
  EXPECT_EQ(items[2].depth, 2);
  EXPECT_EQ(items[3].depth, 1);
  EXPECT_TRUE(gui::TreeSelect(tree, items[2].item));
  EXPECT_TRUE(gui::WaitText(status, "线路 101", 2000));
  EXPECT_EQ(gui::TreeSelection(tree).data, 101);

  // A press that opens a message box, answered with Cancel.
  ASSERT_TRUE(gui::Click(gui::FindControl(top, 1001)));
  gui::MessageBoxInfo box = gui::WaitMessageBox(target.Pid(), 5000);
  ASSERT_NE(box.box, nullptr);
  EXPECT_EQ(box.caption, "询问");
  EXPECT_EQ(box.text, "要继续吗？");
  EXPECT_TRUE(gui::AnswerMessageBox(box.box, IDCANCEL, 5000));
  EXPECT_TRUE(gui::WaitText(status, "取消", 2000));
  EXPECT_EQ(gui::WaitMessageBox(target.Pid(), 0).box, nullptr);  // the dialog is no box

  // Answer times: a slow handler is measured, and given up on past the time-out.
  DWORD ms = 0;
  EXPECT_TRUE(gui::TimedSend(top, WM_APP + 1, 300, 0, 5000, &ms, nullptr));
  EXPECT_GE(ms, 250u);
  EXPECT_FALSE(gui::TimedSend(top, WM_APP + 1, 600, 0, 100, &ms, nullptr));
  Sleep(600);

  // Two real mouse clicks reach the button twice.
  EXPECT_TRUE(gui::MouseClick(gui::FindControl(top, 1006), 2));
  EXPECT_TRUE(gui::WaitText(status, "计数 2", 3000)) << gui::GetText(status);

  // The screen as a BMP: header, size, and the dialog drawn on it (not one flat colour).
  char path[MAX_PATH];
  GetTempPathA(sizeof path, path);
  std::string bmp = std::string(path) + "gui_driver_test.bmp";
  ASSERT_TRUE(gui::ScreenshotBmp(bmp.c_str()));
  HANDLE f = CreateFileA(bmp.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD size = GetFileSize(f, nullptr);
  std::vector<unsigned char> data(size);
  DWORD got = 0;
  ReadFile(f, data.data(), size, &got, nullptr);
  CloseHandle(f);
  DeleteFileA(bmp.c_str());
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  ASSERT_EQ(size, 54u + ((static_cast<DWORD>(w) * 3 + 3) & ~3u) * static_cast<DWORD>(h));
  EXPECT_EQ(data[0], 'B');
  EXPECT_EQ(data[1], 'M');
  RECT r = gui::WindowRect(top);
  size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
  size_t row = static_cast<size_t>(h - 1 - (r.top + r.bottom) / 2);
  std::vector<unsigned char> colours;
  for (LONG x = r.left; x < r.right; ++x) colours.push_back(data[54 + row * stride + static_cast<size_t>(x) * 3]);
  bool varied = false;
  for (unsigned char c : colours) varied = varied || c != colours.front();
  EXPECT_TRUE(varied);

  // The session end pair.
  bool allowed = false;
  EXPECT_TRUE(gui::EndSession(top, ENDSESSION_LOGOFF, 5000, &allowed));
  EXPECT_TRUE(allowed);
  EXPECT_TRUE(gui::WaitText(status, "会话结束 1", 2000));

  EXPECT_TRUE(gui::AnswerMessageBox(top, IDOK, 5000));
  EXPECT_TRUE(target.Ended(5000));
  EXPECT_TRUE(gui::WaitNoTopWindow(q, 1000));
}

}  // namespace
