#include "common/command_runner.h"

namespace {

class CWinExecRunner : public ICommandRunner {
 public:
  UINT Run(const char* commandLine, UINT showCommand) override {
    return WinExec(commandLine, showCommand);
  }

  UINT RunIn(const char* commandLine, const char* directory, UINT showCommand) override {
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION pi;
    // CreateProcessA may write into the command line.
    char line[1024];
    lstrcpynA(line, commandLine, sizeof line);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, directory, &si, &pi)) {
      DWORD error = GetLastError();
      return error < 32 ? error : 0;  // WinExec's meaning: 31 and below is a failure
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 33;
  }
};

CWinExecRunner g_winExec;
ICommandRunner* g_runner = &g_winExec;

}  // namespace

ICommandRunner& CommandRunner() { return *g_runner; }

void SetCommandRunner(ICommandRunner* runner) { g_runner = runner ? runner : &g_winExec; }
