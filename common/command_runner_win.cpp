#include "common/command_runner.h"

#include <cstring>
#include <vector>

#include "common/run_log.h"

namespace {

// CreateProcess takes no longer line, its terminator included.
const size_t kMaxCommandLine = 32767;

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
    return Create(program, commandLine, directory, showCommand, nullptr);
  }

  HANDLE StartProgram(const char* program, const char* commandLine, UINT showCommand) override {
    HANDLE process = nullptr;
    Create(program, commandLine, nullptr, showCommand, &process);
    return process;
  }

 private:
  // WinExec's result; the process handle goes to *process when asked for, else is closed.
  static UINT Create(const char* program, const char* commandLine, const char* directory,
                     UINT showCommand, HANDLE* process) {
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(showCommand);
    PROCESS_INFORMATION pi;
    // CreateProcessA may write into the command line, so it gets a copy, and the copy is
    // never cut: a dial command without its last switches dials something else.
    if (!commandLine) commandLine = "";
    size_t length = std::strlen(commandLine);
    if (length >= kMaxCommandLine) {
      CRunLog::Write("命令行长度%u超过%u，命令未执行.\r\n", static_cast<unsigned>(length),
                     static_cast<unsigned>(kMaxCommandLine - 1));
      return 0;
    }
    std::vector<char> line(commandLine, commandLine + length + 1);
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &si, &pi)) {
      DWORD error = GetLastError();
      return error < 32 ? error : 0;  // WinExec's meaning: 31 and below is a failure
    }
    CloseHandle(pi.hThread);
    if (process)
      *process = pi.hProcess;
    else
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
  // The shared Windows folder: under Terminal Services GetWindowsDirectoryA names a private
  // one in the user's profile, which the user may write to.
  return InDirectory(GetSystemWindowsDirectoryA, fileName);
}

UINT RunSystemProgram(const char* fileName, const char* commandLine, UINT showCommand) {
  std::string program = SystemProgramPath(fileName);
  if (program.empty()) return 0;
  return CommandRunner().RunProgram(program.c_str(), commandLine, nullptr, showCommand);
}

HANDLE StartSystemProgram(const char* fileName, const char* commandLine, UINT showCommand) {
  std::string program = SystemProgramPath(fileName);
  if (program.empty()) return nullptr;
  return CommandRunner().StartProgram(program.c_str(), commandLine, showCommand);
}
