#include "client/diag/dlg_debug_info.h"

#include <cstring>

#include "client/account/config_store.h"
#include "client/diag/cmd_pipe.h"
#include "client/diag/diag_report.h"
#include "client/diag/report_commands.h"
#include "client/diag/ui_worker_messages.h"
#include "client/shell/resource.h"
#include "client/ui/message_box.h"
#include "client/web/w3client.h"
#include "common/command_runner.h"
#include "common/run_log.h"

namespace {

const char kReportFile[] = "REPORT.TXT";
const char kSendFailed[] = "因为网络故障，发送报告失败，请联系客服管理员！";

}  // namespace

BEGIN_DIALOG_MESSAGE_MAP(CDlgDebugInfo)
ON_DIALOG_COMMAND(IDC_DEBUG_GENERATE, &CDlgDebugInfo::OnGenerate)
ON_DIALOG_COMMAND(IDC_DEBUG_COPY, &CDlgDebugInfo::OnCopy)
ON_DIALOG_COMMAND(IDC_DEBUG_SEND, &CDlgDebugInfo::OnSend)
ON_DIALOG_COMMAND(IDC_DEBUG_VIEW, &CDlgDebugInfo::OnView)
ON_DIALOG_MESSAGE(WM_REPORT_OUTPUT, &CDlgDebugInfo::OnReportOutput)
ON_DIALOG_MESSAGE(WM_REPORT_DONE, &CDlgDebugInfo::OnReportDone)
END_DIALOG_MESSAGE_MAP(CDlgDebugInfo)

CDlgDebugInfo::CDlgDebugInfo() : CDialogBase(IDD_DEBUG_INFO), m_reportReady(false) {}

BOOL CDlgDebugInfo::OnInitDialog() {
  // Send waits for a report of this run.
  EnableItem(IDC_DEBUG_SEND, false);
  return TRUE;
}

void CDlgDebugInfo::OnGenerate() {
  // The file is held by the worker without sharing until the end: nothing may open it.
  EnableItem(IDC_DEBUG_GENERATE, false);
  EnableItem(IDC_DEBUG_SEND, false);
  EnableItem(IDC_DEBUG_VIEW, false);
  m_reportReady = false;
  AccelMessageBox(m_hWnd, "生成诊断报告大约需要1分钟左右，生成成功后会有提示，请稍等！", "请稍等",
                  MB_ICONINFORMATION);
  if (!ConfigStore().PostToWorker(WM_WORKER_REPORT, WM_REPORT_OUTPUT,
                                  reinterpret_cast<LPARAM>(m_hWnd))) {
    // No worker would ever answer: end the generation here instead of waiting for ever.
    CRunLog::Write("诊断报告无法交给后台线程\r\n");
    PostToSelf(WM_REPORT_DONE, kReportNoFile, 0);
  }
}

LRESULT CDlgDebugInfo::OnReportOutput(WPARAM bytes, LPARAM block) {
  void* chunk = reinterpret_cast<void*>(block);
  if (bytes == 0 || !chunk) {
    FreeOutputChunk(chunk);
    return 0;
  }
  m_strOutput.append(static_cast<const char*>(chunk), bytes);
  FreeOutputChunk(chunk);
  SetItemText(IDC_DEBUG_OUTPUT, m_strOutput);
  HWND edit = Item(IDC_DEBUG_OUTPUT);
  LRESULT lines = SendMessageA(edit, EM_GETLINECOUNT, 0, 0);
  SendMessageA(edit, EM_LINESCROLL, 0, lines);
  return 0;
}

LRESULT CDlgDebugInfo::OnReportDone(WPARAM outcome, LPARAM) {
  if (outcome == kReportComplete) {
    AccelMessageBox(m_hWnd, "诊断报告生成成功！", "成功", MB_ICONINFORMATION);
    m_reportReady = true;
  } else {
    AccelMessageBox(m_hWnd, "诊断报告文件无法创建，请检查加速器所在目录是否可以写入！", "错误",
                    MB_ICONERROR);
  }
  EnableItem(IDC_DEBUG_GENERATE, true);
  EnableItem(IDC_DEBUG_VIEW, true);
  EnableItem(IDC_DEBUG_SEND, m_reportReady);
  return 0;
}

void CDlgDebugInfo::OnCopy() {
  if (!OpenClipboard(m_hWnd)) return;
  EmptyClipboard();
  std::string text = ItemText(IDC_DEBUG_OUTPUT);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
  if (memory) {
    char* bytes = static_cast<char*>(GlobalLock(memory));
    if (bytes) {
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      GlobalUnlock(memory);
      if (!SetClipboardData(CF_TEXT, memory)) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

void CDlgDebugInfo::OnView() {
  std::string command = ViewReportCommand(ConfigStore().CachePath(kReportFile));
  if (command.empty()) {
    CRunLog::Write("命令行过长，未执行：notepad %s\r\n", kReportFile);
    return;
  }
  std::string notepad = SystemProgramPath("notepad.exe");
  if (!notepad.empty())
    CommandRunner().RunProgram(notepad.c_str(), command.c_str(), nullptr, SW_SHOW);
}

void CDlgDebugInfo::OnSend() {
  if (!m_reportReady) return;
  std::string path = ConfigStore().CachePath(kReportFile);
  // The upload would send a missing or unreadable file as an empty part and call it sent.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    AccelMessageBox(m_hWnd, "诊断报告文件无法读取，请重新生成报告！", "错误", MB_ICONERROR);
    return;
  }
  CloseHandle(file);

  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  bool sent = Upload(path);
  SetCursor(previous);
  if (sent)
    AccelMessageBox(m_hWnd, "报告发送成功，联系管理员告知你的帐号即可！", "成功", MB_OK);
  else
    AccelMessageBox(m_hWnd, kSendFailed, "错误", MB_ICONERROR);
}

bool CDlgDebugInfo::Upload(const std::string& reportPath) {
  CConfigStore& store = ConfigStore();
  W3Client client;
  client.SetTimeouts(kUploadTimeoutMs);
  if (!client.OpenServer(store.Hosts().client.c_str(), 0, nullptr, nullptr, w3::kSchemeHttp,
                         "Mozilla/4.0 (compatible; )")) {
    return false;
  }
  client.AddField("report", reportPath.c_str(), true);
  client.AddField("userid", store.m_accountUser.c_str(), false);
  if (!client.Request("/send_report.php", W3Client::kMultipartPost, nullptr)) return false;
  DWORD status = client.StatusCode();
  // The answer's content means nothing to us; it is read so that the exchange completes.
  // An endless answer is not waited out.
  char buffer[1024];
  DWORD total = 0;
  for (DWORD got; total < 65536 && (got = client.Response(buffer, sizeof buffer)) > 0;)
    total += got;
  return status == HTTP_STATUS_OK;
}
