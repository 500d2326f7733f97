// End-to-end: the diagnostics page of the running client. Generate the report, wait for its
// end, send it, and compare what the service stand-in received with the report file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "client/test_support/stub_client.h"
#include "tests/e2e/client_session.h"
#include "tools/gui_driver/gui_driver.h"

namespace {

using e2e::ClientSession;
using testing_support::ReadFileBytes;

// Diagnostics page controls and the frame's command that shows the page.
const int kOutput = 1023;
const int kGenerate = 1020;
const int kSend = 1026;
const WPARAM kShowDebug = 30019;
const WPARAM kMenuExit = 30006;

const DWORD kReportMs = 120000;

void Answer(ClientSession& s, const char* caption, const std::string& text, DWORD ms) {
  gui::MessageBoxInfo box = s.WaitBox(ms);
  ASSERT_NE(box.box, nullptr) << "no message box \"" << text << "\"\n" << s.RunLog();
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  EXPECT_TRUE(gui::AnswerMessageBox(box.box, IDOK, e2e::kStepMs));
}

TEST(DiagReportE2E, GenerateThenSendDeliversTheReportUnderTheAccount) {
  ClientSession s("e2e_diag", nullptr);
  ASSERT_TRUE(s.WriteUserIni("RUN_COUNTER=1\r\n"));
  ASSERT_TRUE(s.CatchCommands());
  ASSERT_TRUE(s.Start());
  HWND frame = s.LoginToMain("test01", "pass01");
  ASSERT_NE(frame, nullptr) << s.RunLog();

  PostMessageA(frame, WM_COMMAND, kShowDebug, 0);
  HWND output = s.Control(frame, kOutput);
  ASSERT_NE(output, nullptr);
  HWND page = GetParent(output);
  for (DWORD waited = 0; !gui::IsVisible(page) && waited < e2e::kStepMs; waited += 100) Sleep(100);
  ASSERT_TRUE(gui::IsVisible(page));
  HWND generate = GetDlgItem(page, kGenerate);
  HWND send = GetDlgItem(page, kSend);
  EXPECT_FALSE(gui::IsEnabled(send));

  ASSERT_TRUE(gui::Click(generate));
  Answer(s, "请稍等", "生成诊断报告大约需要1分钟左右，生成成功后会有提示，请稍等！", e2e::kStepMs);
  EXPECT_FALSE(gui::IsEnabled(generate));
  Answer(s, "成功", "诊断报告生成成功！", kReportMs);
  EXPECT_TRUE(gui::WaitEnabled(send, true, e2e::kStepMs));
  EXPECT_TRUE(gui::IsEnabled(generate));

  std::string report;
  ASSERT_TRUE(ReadFileBytes(s.CachePath("REPORT.TXT"), &report));
  EXPECT_EQ(report.find("==== ipconfig /all\r\n"), 0u);
  // The dial test ran with the stand-in's rasdial.exe; its header carries the login code.
  EXPECT_NE(report.find("\r\n==== rasdial.exe VelaVPN \"test01\" \"C0DE0001\" /phone:"),
            std::string::npos)
      << report;
  EXPECT_NE(gui::GetText(output), "");
  // Every command of the report ran from the system directory, none of the copies planted
  // under their names beside the program or in its start folder.
  EXPECT_EQ(s.Planted(), "");

  size_t uploads = e2e::Requests("/send_report.php");
  ASSERT_TRUE(gui::Click(send));
  Answer(s, "成功", "报告发送成功，联系管理员告知你的帐号即可！", 30000);
  ASSERT_EQ(e2e::Requests("/send_report.php"), uploads + 1);
  std::string record = testing_support::LastStubRecord("path", "/send_report.php");
  const std::string b = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
  EXPECT_EQ(testing_support::RecordString(record, "body"),
            "--" + b + "\r\nContent-Disposition: form-data; name=\"report\"; filename=\"" +
                s.CachePath("REPORT.TXT") + "\"\r\n\r\n" + report + "\r\n--" + b +
                "\r\nContent-Disposition: form-data; name=\"userid\"\r\n\r\ntest01\r\n--" + b +
                "--\r\n");

  PostMessageA(frame, WM_COMMAND, kMenuExit, 0);
  EXPECT_TRUE(s.WaitExit(e2e::kStepMs));
}

}  // namespace
