// Starting other programs by command line without waiting for them (service commands,
// the system's dial command, games, the text editor). Tests put a recorder in its place.
#pragma once

#include <windows.h>

#include <string>

class ICommandRunner {
 public:
  virtual ~ICommandRunner() {}
  // WinExec semantics: a result above 31 means the program was started.
  virtual UINT Run(const char* commandLine, UINT showCommand) = 0;
  // The same with the program's own current directory (games load their data relative to
  // it); a null directory keeps the caller's.
  virtual UINT RunIn(const char* commandLine, const char* directory, UINT showCommand) {
    return Run(commandLine, showCommand);
  }
  // The same with the program named by its full path: the command line is only what the
  // program reads as its arguments, and no search order gets a say in what runs.
  virtual UINT RunProgram(const char* program, const char* commandLine, const char* directory,
                          UINT showCommand) {
    return RunIn(commandLine, directory, showCommand);
  }
  // The same, in the caller's directory, handing the started process to the caller, who
  // waits on it and closes it; null when it was not started, or when this runner has no
  // process to hand (then the caller cannot wait for its end).
  virtual HANDLE StartProgram(const char* program, const char* commandLine, UINT showCommand) {
    RunProgram(program, commandLine, nullptr, showCommand);
    return nullptr;
  }
};

// The process-wide runner: the real one unless a test has put its own in place.
ICommandRunner& CommandRunner();
void SetCommandRunner(ICommandRunner* runner);  // null restores the real one

// Full paths of the system's own programs and libraries ("sc.exe", "urlmon.dll" in the
// system directory, "explorer.exe" in the shared Windows directory); "" when the directory cannot be
// had. The client runs elevated: a bare name would be looked for in the program folder and
// the current directory first, where anyone may have put one.
std::string SystemProgramPath(const char* fileName);
std::string WindowsProgramPath(const char* fileName);

// Runs a program of the system directory with this command line, hidden or shown.
UINT RunSystemProgram(const char* fileName, const char* commandLine, UINT showCommand);
// The same, handing the started process to the caller (see StartProgram).
HANDLE StartSystemProgram(const char* fileName, const char* commandLine, UINT showCommand);
