#include "client/diag/diag_report.h"

#include "client/account/config_store.h"
#include "client/diag/cmd_pipe.h"
#include "common/command_runner.h"
#include "common/run_log.h"

namespace {

const char kReportFile[] = "REPORT.TXT";
const char kDefaultReachHost[] = "www.baidu.com";

}  // namespace

std::string ReportReachHost(const char* programDir) {
  if (!programDir || programDir[0] == '\0') return kDefaultReachHost;
  std::string ini = std::string(programDir) + "\\service.ini";
  char value[260] = "";
  GetPrivateProfileStringA("Service", "ReachHost", "", value, sizeof value, ini.c_str());
  return IsServiceHostName(value) ? std::string(value) : std::string(kDefaultReachHost);
}

bool WriteDiagReport(const std::string& path, const std::vector<ReportCommand>& commands,
                     HWND window, UINT message) {
  if (path.empty()) return false;
  // No sharing while the commands run: nobody reads or sends a half-written report.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  for (const ReportCommand& command : commands) {
    if (!command.fits || !command.wholeGbk || !command.noSwitch) continue;
    CCmdPipe pipe;
    // A command the system lacks leaves no header; the next one runs all the same.
    pipe.Run(SystemProgramPath(command.program.c_str()).c_str(), command.line.c_str(), file,
             window, message);
  }
  CloseHandle(file);
  return true;
}

void RunReportJob(CConfigStore& store, HWND window, UINT message) {
  ReportInputs in;
  in.programDir = store.ProgramDir();
  in.reachHost = ReportReachHost(store.ProgramDir());
  in.loginHost = store.Hosts().login;
  in.user = store.m_accountUser;
  in.loginCode = store.m_loginCode;
  if (const ServerItem* line = store.m_lines.FindById(store.m_selectedLine)) in.lineHost = line->host;

  std::vector<ReportCommand> commands = BuildReportCommands(in);
  for (size_t i = 0; i < commands.size(); ++i) {
    if (!commands[i].fits)
      CRunLog::Write("诊断报告的第%d条命令超过511字节，未执行\r\n", static_cast<int>(i + 1));
    else if (!commands[i].wholeGbk)
      CRunLog::Write("诊断报告的第%d条命令含有不完整的汉字编码，未执行\r\n", static_cast<int>(i + 1));
    else if (!commands[i].noSwitch)
      CRunLog::Write("诊断报告的第%d条命令的参数会被当作命令开关，未执行\r\n", static_cast<int>(i + 1));
  }
  std::string path = store.CachePath(kReportFile);
  if (!WriteDiagReport(path, commands, window, message)) {
    CRunLog::Write("诊断报告文件无法创建：%s\r\n", path.c_str());
    PostMessageA(window, WM_REPORT_DONE, kReportNoFile, 0);
    return;
  }
  PostMessageA(window, WM_REPORT_DONE, kReportComplete, 0);
}
