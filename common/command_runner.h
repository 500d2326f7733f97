// Starting other programs by command line without waiting for them (service commands,
// the system's dial command, games, the text editor). Tests put a recorder in its place.
#pragma once

#include <windows.h>

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
};

// The process-wide runner: the real one unless a test has put its own in place.
ICommandRunner& CommandRunner();
void SetCommandRunner(ICommandRunner* runner);  // null restores the real one
