// The diagnostic report under Wine: the command runner with a command of known output, and
// the diagnostics page with its real template on a store whose worker runs the real report
// job (the pings go to 127.0.0.1) and whose uploads go to the service stand-in on loopback.
#include "client/diag/dlg_debug_info.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/diag/cmd_pipe.h"
#include "client/diag/diag_report.h"
#include "client/diag/ui_worker.h"
#include "client/shell/resource.h"
#include "client/test_support/stub_client.h"
#include "client/ui/message_box.h"

namespace {

using namespace testing_support;

// The bytes the output tool writes for a count.
std::string ToolBytes(size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

std::string ToolPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir(path, n);
  return dir.substr(0, dir.rfind('\\') + 1) + "report_output_tool.exe";
}

HANDLE NewFile(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}

// Output chunks as the page gets them: sizes and bytes in arrival order, blocks freed.
struct Chunks {
  std::vector<size_t> sizes;
  std::string bytes;
  CRecordingWindow window{[this](UINT msg, WPARAM w, LPARAM l) {
    if (msg != WM_REPORT_OUTPUT) return false;
    sizes.push_back(w);
    bytes.append(reinterpret_cast<const char*>(l), w);
    FreeOutputChunk(reinterpret_cast<void*>(l));
    return true;
  }};
};

TEST(CmdPipe, OutputBeyondOneReadArrivesInOrderedChunksBehindItsHeader) {
  std::string dir = MakeTempDir("cmdpipe");
  std::string file = dir + "\\out.txt";
  std::string command = "\"" + ToolPath() + "\" 10000";
  Chunks chunks;
  HANDLE out = NewFile(file);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CCmdPipe().Run(command.c_str(), out, chunks.window.Handle(), WM_REPORT_OUTPUT), 0);
  CloseHandle(out);
  PumpUntil([&] { return chunks.bytes.size() >= 10000; }, 5000);

  EXPECT_EQ(chunks.bytes, ToolBytes(10000));
  EXPECT_GE(chunks.sizes.size(), 3u);
  for (size_t n : chunks.sizes) EXPECT_LE(n, 4096u);
  std::string written;
  ASSERT_TRUE(ReadFileBytes(file, &written));
  EXPECT_EQ(written, "==== " + command + "\r\n" + ToolBytes(10000));
}

TEST(CmdPipe, SilentCommandLeavesItsHeaderAloneAndAMissingOneLeavesNothing) {
  std::string dir = MakeTempDir("cmdpipe");
  std::string file = dir + "\\out.txt";
  std::string silent = "\"" + ToolPath() + "\" 0";
  Chunks chunks;
  HANDLE out = NewFile(file);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CCmdPipe().Run(silent.c_str(), out, chunks.window.Handle(), WM_REPORT_OUTPUT), 0);
  EXPECT_EQ(CCmdPipe().Run("no_such_program_here.exe /x", out, chunks.window.Handle(),
                           WM_REPORT_OUTPUT),
            -1);
  CloseHandle(out);
  PumpUntil([] { return false; }, 300);

  EXPECT_TRUE(chunks.sizes.empty());
  std::string written;
  ASSERT_TRUE(ReadFileBytes(file, &written));
  EXPECT_EQ(written, "==== " + silent + "\r\n");
}

TEST(CmdPipe, WithoutAWindowNeitherPipeEndStaysOpen) {
  // Far more than a pipe holds: a read end left open would keep the command blocked on its
  // write for ever, and it would never get to its marker file.
  std::string dir = MakeTempDir("cmdpipe");
  std::string marker = dir + "\\finished";
  std::string command = "\"" + ToolPath() + "\" 1000000 \"" + marker + "\"";
  // The runner lives on while we wait, as the worker's does between commands.
  CCmdPipe pipe;
  EXPECT_EQ(pipe.Run(command.c_str(), INVALID_HANDLE_VALUE, nullptr, 0), 0);
  PumpUntil([&] { return FileExists(marker); }, 10000);
  EXPECT_TRUE(FileExists(marker));
}

struct Box {
  std::string text, caption;
  UINT type;
};

class CBoxRecorder : public IMessageBoxes {
 public:
  int Show(HWND, const char* text, const char* caption, UINT type) override {
    boxes.push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
  }
  std::vector<Box> boxes;
};

const char kWait[] = "生成诊断报告大约需要1分钟左右，生成成功后会有提示，请稍等！";
const char kDone[] = "诊断报告生成成功！";
const char kSent[] = "报告发送成功，联系管理员告知你的帐号即可！";
const char kSendFailed[] = "因为网络故障，发送报告失败，请联系客服管理员！";

// The report file without the command headers: what the page was sent.
std::string WithoutHeaders(const std::string& report) {
  std::string out;
  size_t at = 0;
  while (at < report.size()) {
    size_t header = report.find("==== ", at);
    if (header == std::string::npos) {
      out += report.substr(at);
      break;
    }
    out += report.substr(at, header - at);
    size_t end = report.find("\r\n", header);
    at = end == std::string::npos ? report.size() : end + 2;
  }
  return out;
}

std::string ClipboardText() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr)) return "<closed>";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

// A store with its worker in a program directory of its own, and the page in a hidden
// parent window, driven by commands as the buttons send them.
class DebugPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    SetMessageBoxes(&boxes_);
  }
  void TearDown() override {
    page_.DestroyWindow();
    if (parent_) DestroyWindow(parent_);
    delete store_;
    SetMessageBoxes(nullptr);
  }
  void Start(const char* clientHost) {
    dir_ = MakeOfflineProgramDir("diagpage");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\service.ini",
                               std::string("[Service]\r\nClientHost=") + clientHost +
                                   "\r\nLoginHost=127.0.0.1\r\nReachHost=127.0.0.1\r\n"));
    store_ = new CConfigStore(dir_ + "\\accelclient.exe", &StartUiWorker);
    ASSERT_NE(store_->m_pWorker, nullptr);
    store_->m_accountUser = "test01";
    store_->m_loginCode = "c0de77";
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 700, 500, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_TRUE(page_.Create(parent_));
  }
  void Press(int id) {
    SendMessageA(page_.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page_.GetSafeHwnd(), id)));
  }
  bool Enabled(int id) { return IsWindowEnabled(GetDlgItem(page_.GetSafeHwnd(), id)) != FALSE; }
  // Generates and waits for the end; the report file as it then stands.
  std::string Generate() {
    size_t before = boxes_.boxes.size();
    Press(IDC_DEBUG_GENERATE);
    EXPECT_GT(boxes_.boxes.size(), before);
    if (boxes_.boxes.size() > before) {
      EXPECT_EQ(boxes_.boxes[before].text, kWait);
    }
    EXPECT_FALSE(Enabled(IDC_DEBUG_GENERATE));
    EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));
    PumpUntil([&] { return boxes_.boxes.size() >= before + 2; }, 90000);
    EXPECT_EQ(boxes_.boxes.size(), before + 2);
    if (boxes_.boxes.size() >= before + 2) {
      EXPECT_EQ(boxes_.boxes[before + 1].text, kDone);
      EXPECT_EQ(boxes_.boxes[before + 1].caption, "成功");
    }
    std::string report;
    EXPECT_TRUE(ReadFileBytes(ReportPath(), &report));
    return report;
  }
  std::string ReportPath() const { return dir_ + "\\Cache\\REPORT.TXT"; }
  const Box& LastBox() {
    static const Box none = {"<none>", "", 0};
    return boxes_.boxes.empty() ? none : boxes_.boxes.back();
  }

  CBoxRecorder boxes_;
  std::string dir_;
  CConfigStore* store_ = nullptr;
  HWND parent_ = nullptr;
  CDlgDebugInfo page_;
};

TEST_F(DebugPageTest, GenerateTwiceShowsBothSendsTheSecondAndCopiesWhatIsShown) {
  Start("127.0.0.1");
  EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));

  std::string first = Generate();
  // The commands this system lacks could not start and left no header.
  const char* commands[] = {"ipconfig /all", "route print", "netstat -an", "ping 127.0.0.1",
                            "rasdial.exe VelaVPN \"test01\" \"c0de77\""};
  for (const char* c : commands)
    std::printf("[ report ] %-40s %s\n", c,
                first.find(std::string("==== ") + c) != std::string::npos ? "ran" : "did not start");
  EXPECT_EQ(first.find("==== ipconfig /all\r\n"), 0u);
  EXPECT_NE(first.find("\r\n==== ping 127.0.0.1\r\n"), std::string::npos);
  EXPECT_EQ(page_.Output(), WithoutHeaders(first));
  EXPECT_EQ(page_.ItemText(IDC_DEBUG_OUTPUT), page_.Output());
  EXPECT_TRUE(Enabled(IDC_DEBUG_GENERATE));
  EXPECT_TRUE(Enabled(IDC_DEBUG_SEND));
  EXPECT_TRUE(Enabled(IDC_DEBUG_VIEW));

  std::string shownBefore = page_.Output();
  std::string second = Generate();
  ASSERT_GE(page_.Output().size(), shownBefore.size());
  EXPECT_EQ(page_.Output().substr(0, shownBefore.size()), shownBefore);
  EXPECT_EQ(page_.Output().substr(shownBefore.size()), WithoutHeaders(second));
  EXPECT_EQ(second.find("==== ipconfig /all\r\n"), 0u);

  // The upload carries this run's report byte for byte and the account's name.
  size_t uploads = CountStubRecords("path", "/send_report.php");
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox().text, kSent);
  EXPECT_EQ(LastBox().caption, "成功");
  EXPECT_EQ(LastBox().type, static_cast<UINT>(MB_OK));
  ASSERT_EQ(CountStubRecords("path", "/send_report.php"), uploads + 1);
  std::string record = LastStubRecord("path", "/send_report.php");
  EXPECT_EQ(RecordString(record, "method"), "POST");
  EXPECT_EQ(RecordHeader(record, "User-Agent"), "Mozilla/4.0 (compatible; )");
  const std::string b = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
  EXPECT_EQ(RecordString(record, "body"),
            "--" + b + "\r\nContent-Disposition: form-data; name=\"report\"; filename=\"" +
                ReportPath() + "\"\r\n\r\n" + second + "\r\n--" + b +
                "\r\nContent-Disposition: form-data; name=\"userid\"\r\n\r\ntest01\r\n--" + b +
                "--\r\n");

  // An answer other than 200 is no success.
  ASSERT_TRUE(SetStubMode("/send_report.php", "500"));
  Press(IDC_DEBUG_SEND);
  SetStubMode("/send_report.php", "normal");
  EXPECT_EQ(LastBox().text, kSendFailed);
  EXPECT_EQ(LastBox().type, static_cast<UINT>(MB_ICONERROR));

  Press(IDC_DEBUG_COPY);
  EXPECT_EQ(ClipboardText(), page_.Output());
}

TEST_F(DebugPageTest, NothingIsSentBeforeThisRunsReportNorWhenTheServiceIsDown) {
  Start("127.0.0.2");
  // An earlier run's report, perhaps of another account, is never sent.
  ASSERT_TRUE(WriteFileBytes(ReportPath(), "==== old report of someone else\r\n"));
  EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));
  Press(IDC_DEBUG_SEND);
  EXPECT_TRUE(boxes_.boxes.empty());

  // Copy with nothing shown puts an empty text on the clipboard.
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  CloseClipboard();
  Press(IDC_DEBUG_COPY);
  EXPECT_EQ(ClipboardText(), "");

  // A finished report, and nobody listening on the client host.
  SendMessageA(page_.GetSafeHwnd(), WM_REPORT_DONE, kReportComplete, 0);
  EXPECT_TRUE(Enabled(IDC_DEBUG_SEND));
  DWORD start = GetTickCount();
  Press(IDC_DEBUG_SEND);
  EXPECT_LT(GetTickCount() - start, 40000u);
  EXPECT_EQ(LastBox().text, kSendFailed);
  EXPECT_EQ(LastBox().caption, "错误");

  // A report that is gone is not sent as an empty part.
  ASSERT_TRUE(DeleteFileA(ReportPath().c_str()));
  Press(IDC_DEBUG_SEND);
  EXPECT_EQ(LastBox().text, "诊断报告文件无法读取，请重新生成报告！");
}

TEST_F(DebugPageTest, AReportFileThatCannotBeCreatedEndsTheGenerationWithAMessage) {
  Start("127.0.0.2");
  // A directory where the file should be: creating it fails.
  ASSERT_TRUE(CreateDirectoryA(ReportPath().c_str(), nullptr));
  Press(IDC_DEBUG_GENERATE);
  PumpUntil([&] { return boxes_.boxes.size() >= 2; }, 10000);
  ASSERT_EQ(boxes_.boxes.size(), 2u);
  EXPECT_EQ(boxes_.boxes[1].text, "诊断报告文件无法创建，请检查加速器所在目录是否可以写入！");
  EXPECT_EQ(boxes_.boxes[1].type, static_cast<UINT>(MB_ICONERROR));
  EXPECT_TRUE(Enabled(IDC_DEBUG_GENERATE));
  EXPECT_FALSE(Enabled(IDC_DEBUG_SEND));
  EXPECT_TRUE(page_.Output().empty());
}

}  // namespace
