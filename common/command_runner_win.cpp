#include "common/command_runner.h"

namespace {

class CWinExecRunner : public ICommandRunner {
 public:
  UINT Run(const char* commandLine, UINT showCommand) override {
    return WinExec(commandLine, showCommand);
  }
};

CWinExecRunner g_winExec;
ICommandRunner* g_runner = &g_winExec;

}  // namespace

ICommandRunner& CommandRunner() { return *g_runner; }

void SetCommandRunner(ICommandRunner* runner) { g_runner = runner ? runner : &g_winExec; }
