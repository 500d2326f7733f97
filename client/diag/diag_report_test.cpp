// The diagnostic report under Wine: the command runner with a command of known output, and
// the diagnostics page with its real template on a store whose worker runs the real report
// job (its pings go to 127.0.0.1) and whose uploads go to the service stand-in on loopback.
#include "client/diag/dlg_debug_info.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "common/run_log.h"

#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/diag/cmd_pipe.h"
#include "client/diag/diag_report.h"
#include "client/diag/ui_worker.h"
#include "client/shell/resource.h"
#include "client/test_support/stub_client.h"
#include "client/ui/message_box.h"
#include "common/command_runner.h"

namespace {

using namespace testing_support;

std::string ToolPath() {
  char path[MAX_PATH];
  std::string exe(path, GetModuleFileNameA(nullptr, path, sizeof path));
  return exe.substr(0, exe.rfind('\\') + 1) + "report_output_tool.exe";
}

std::string Tool(const std::string& args) { return "\"" + ToolPath() + "\" " + args; }

TEST(CmdPipe, OutputArrivesInOrderedChunksBehindItsHeaderAndSilenceLeavesTheHeaderAlone) {
  std::string file = MakeTempDir("cmdpipe") + "\\out.txt";
  std::vector<size_t> sizes;
  std::string shown;
  CRecordingWindow window([&](UINT msg, WPARAM w, LPARAM l) {
    if (msg != WM_REPORT_OUTPUT) return false;
    sizes.push_back(w);
    shown.append(reinterpret_cast<const char*>(l), w);
    FreeOutputChunk(reinterpret_cast<void*>(l));
    return true;
  });
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const std::string tool = ToolPath();
  HWND w = window.Handle();
  EXPECT_EQ(CCmdPipe().Run(tool.c_str(), Tool("10000").c_str(), out, w, WM_REPORT_OUTPUT), 0);
  EXPECT_EQ(CCmdPipe().Run(tool.c_str(), Tool("0").c_str(), out, w, WM_REPORT_OUTPUT), 0);
  EXPECT_EQ(CCmdPipe().Run("C:\\no_such_program.exe", "no_such_program.exe", out, w,
                           WM_REPORT_OUTPUT), -1);
  CloseHandle(out);
  PumpUntil([&] { return shown.size() >= 10000; }, 5000);

  std::string letters;
  for (int i = 0; i < 10000; ++i) letters += static_cast<char>('a' + i % 26);
  EXPECT_EQ(shown, letters);
  EXPECT_GE(sizes.size(), 3u);
  for (size_t n : sizes) EXPECT_LE(n, 4096u);
  std::string written;
  ASSERT_TRUE(ReadFileBytes(file, &written));
  EXPECT_EQ(written, "==== " + Tool("10000") + "\r\n" + letters + "==== " + Tool("0") + "\r\n");
}

TEST(CmdPipe, WithoutAWindowNeitherPipeEndStaysOpen) {
  // Far more than a pipe holds: an end left open would block the command on its write for
  // ever, and it would never create its marker. The runner lives on, as the worker's does.
  std::string marker = MakeTempDir("cmdpipe") + "\\finished";
  CCmdPipe pipe;
  EXPECT_EQ(pipe.Run(ToolPath().c_str(), Tool("1000000 \"" + marker + "\"").c_str(),
                     INVALID_HANDLE_VALUE, nullptr, 0), 0);
  PumpUntil([&] { return FileExists(marker); }, 10000);
  EXPECT_TRUE(FileExists(marker));
}

class CBoxRecorder : public IMessageBoxes {
 public:
  int Show(HWND, const char* text, const char* caption, UINT type) override {
    texts.push_back(std::string(caption) + "|" + text + "|" + std::to_string(type));
    return IDOK;
  }
  std::vector<std::string> texts;
};

const std::string kDone = "成功|诊断报告生成成功！|64";
const std::string kSent = "成功|报告发送成功，联系管理员告知你的帐号即可！|0";
const std::string kSendFailed = "错误|因为网络故障，发送报告失败，请联系客服管理员！|16";

std::string ClipboardText() {
  std::string text = "<none>";
  OpenClipboard(nullptr);
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    text = static_cast<const char*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

// A store with its worker in a program directory of its own, and the page in a hidden
// parent, driven by the commands its buttons send.
class DebugPageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMessageBoxes(&boxes_); }
  void TearDown() override {
    page_.DestroyWindow();
    DestroyWindow(parent_);
    delete store_;
    SetMessageBoxes(nullptr);
  }
  void Start(const char* clientHost) {
    dir_ = MakeOfflineProgramDir("diagpage");
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\service.ini", std::string("[Service]\r\nClientHost=") +
                               clientHost + "\r\nLoginHost=127.0.0.1\r\nReachHost=127.0.0.1\r\n"));
    store_ = new CConfigStore(dir_ + "\\accelclient.exe", &StartUiWorker);
    store_->m_accountUser = "test01";
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_TRUE(page_.Create(parent_));
  }
  void Press(int id) { SendMessageA(page_.GetSafeHwnd(), WM_COMMAND, id, 0); }
  bool Enabled(int id) { return page_.IsItemEnabled(id); }
  std::string LastBox() { return boxes_.texts.empty() ? "<none>" : boxes_.texts.back(); }
  // Generates, waits for the end and strips the headers from the report file: what the
  // page should have been sent.
  std::string Generate() {
    size_t before = boxes_.texts.size();
    Press(IDC_DEBUG_GENERATE);
    EXPECT_FALSE(Enabled(IDC_DEBUG_GENERATE) || Enabled(IDC_DEBUG_SEND) || Enabled(IDC_DEBUG_VIEW));
    PumpUntil([&] { return boxes_.texts.size() >= before + 2; }, 90000);
    EXPECT_EQ(LastBox(), kDone);
    std::string report, shown;
    EXPECT_TRUE(ReadFileBytes(dir_ + "\\Cache\\REPORT.TXT", &report));
    EXPECT_EQ(report.find("==== ipconfig /all\r\n"), 0u);
    size_t at = 0;
    for (size_t h; (h = report.find("==== ", at)) != std::string::npos;) {
      shown += report.substr(at, h - at);
      at = report.find("\r\n", h);
      at = at == std::string::npos ? report.size() : at + 2;
    }
    return shown + report.substr(at);
  }

  CBoxRecorder boxes_;
  std::string dir_;
  CConfigStore* store_ = nullptr;
  HWND parent_ = nullptr;
  CDlgDebugInfo page_;
};

TEST_F(DebugPageTest, GenerateTwiceShowsBothSendsOnlyOnA200AndCopiesWhatIsShown) {
  Start("127.0.0.1");
  EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));
  std::string first = Generate();
  EXPECT_EQ(page_.Output(), first);
  EXPECT_TRUE(Enabled(IDC_DEBUG_GENERATE) && Enabled(IDC_DEBUG_SEND) && Enabled(IDC_DEBUG_VIEW));
  // A login code rasdial would take for its ask-for-the-password sign: no dial test.
  store_->m_loginCode = "*";
  std::string second = Generate();
  std::string log;
  ASSERT_TRUE(ReadFileBytes(CRunLog::GetPath(), &log));
  EXPECT_NE(log.find("诊断报告的第6条命令的参数会被当作命令开关，未执行\r\n"), std::string::npos)
      << log;
  EXPECT_EQ(page_.Output(), first + second);
  EXPECT_EQ(page_.ItemText(IDC_DEBUG_OUTPUT), first + second);

  size_t uploads = CountStubRecords("path", "/send_report.php");
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox(), kSent);
  EXPECT_EQ(CountStubRecords("path", "/send_report.php"), uploads + 1);
  ASSERT_TRUE(SetStubMode("/send_report.php", "500"));
  Press(IDC_DEBUG_SEND);
  SetStubMode("/send_report.php", "normal");
  EXPECT_EQ(LastBox(), kSendFailed);

  Press(IDC_DEBUG_COPY);
  EXPECT_EQ(ClipboardText(), first + second);
}

class CRunRecorder : public ICommandRunner {
 public:
  UINT Run(const char* line, UINT show) override {
    runs.push_back(std::string(line) + "|" + std::to_string(show));
    return 33;
  }
  std::vector<std::string> runs;
};

TEST_F(DebugPageTest, NothingIsSentBeforeThisRunsReportNorWhenTheServiceIsDown) {
  Start("127.0.0.2");
  CRunRecorder runner;
  SetCommandRunner(&runner);
  Press(IDC_DEBUG_VIEW);
  SetCommandRunner(nullptr);
  EXPECT_EQ(runner.runs, std::vector<std::string>{"notepad \"" + dir_ + "\\Cache\\REPORT.TXT\"|5"});
  // An earlier run's report, perhaps of another account, is never sent.
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\REPORT.TXT", "==== someone else's\r\n"));
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox(), "<none>");
  Press(IDC_DEBUG_COPY);
  EXPECT_EQ(ClipboardText(), "");

  SendMessageA(page_.GetSafeHwnd(), WM_REPORT_DONE, kReportComplete, 0);
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox(), kSendFailed);
  // A report that has gone is not sent as an empty part.
  DeleteFileA((dir_ + "\\Cache\\REPORT.TXT").c_str());
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox(), "错误|诊断报告文件无法读取，请重新生成报告！|16");
}

TEST_F(DebugPageTest, AReportFileThatCannotBeCreatedEndsTheGenerationWithAMessage) {
  Start("127.0.0.2");
  ASSERT_TRUE(CreateDirectoryA((dir_ + "\\Cache\\REPORT.TXT").c_str(), nullptr));
  Press(IDC_DEBUG_GENERATE);
  PumpUntil([&] { return boxes_.texts.size() >= 2; }, 10000);
  EXPECT_EQ(LastBox(), "错误|诊断报告文件无法创建，请检查加速器所在目录是否可以写入！|16");
  EXPECT_TRUE(Enabled(IDC_DEBUG_GENERATE));
  EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));
}

}  // namespace
