#include "common/command_runner.h"

namespace {

class CWinExecRunner : public ICommandRunner {
 public:
  UINT Run(const char* commandLine, UINT showCommand) override {
    return WinExec(commandLine, showCommand);
  }

  UINT RunIn(const char* commandLine, const char* directory, UINT showCommand) override {
    return RunProgram(nullptr, commandLine, directory, showCommand);
  }

  UINT RunProgram(const char* program, const char* commandLine, const char* directory,
                  UINT showCommand) override {
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION pi;
    // CreateProcessA may write into the command line.
    char line[1024];
    lstrcpynA(line, commandLine, sizeof line);
    if (!CreateProcessA(program, line, nullptr, nullptr, FALSE, 0, nullptr, directory, &si,
                        &pi)) {
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

std::string InDirectory(UINT (WINAPI* directoryOf)(LPSTR, UINT), const char* fileName) {
  char dir[MAX_PATH];
  UINT n = directoryOf(dir, sizeof dir);
  // No directory means no program: an empty path makes CreateProcess fail rather than search.
  if (n == 0 || n >= sizeof dir) return std::string();
  std::string path(dir, n);
  if (path[path.size() - 1] != '\\') path += '\\';
  return path + fileName;
}

}  // namespace

ICommandRunner& CommandRunner() { return *g_runner; }

void SetCommandRunner(ICommandRunner* runner) { g_runner = runner ? runner : &g_winExec; }

std::string SystemProgramPath(const char* fileName) {
  return InDirectory(GetSystemDirectoryA, fileName);
}

std::string WindowsProgramPath(const char* fileName) {
  return InDirectory(GetWindowsDirectoryA, fileName);
}

UINT RunSystemProgram(const char* fileName, const char* commandLine, UINT showCommand) {
  std::string program = SystemProgramPath(fileName);
  if (program.empty()) return 0;
  return CommandRunner().RunProgram(program.c_str(), commandLine, nullptr, showCommand);
}
