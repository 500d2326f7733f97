// Entry point of accelclient.exe. The configuration store is built during static
// construction, before WinMain: its start fetches the service's lists and writes the first
// lines of the run log; the run log's size check follows it.
#include <windows.h>

#include "client/account/config_store.h"
#include "client/diag/ui_worker.h"
#include "client/shell/ui_demo_app.h"
#include "common/run_log.h"

namespace {

// Same translation unit, so this order holds: the store sets the log path that the size
// check then inspects. The store starts the background worker as its last step.
CConfigStore& g_configAtStart = ConfigStore(&StartUiWorker);
CRunLog g_runLog;

// The current directory leaves the DLL search: whoever starts the elevated client chooses
// it. Bound at run time, as XP before SP1 has no such function.
void LeaveCurrentDirectoryOutOfDllSearch() {
  typedef BOOL(WINAPI * PFN_SetDllDirectoryA)(LPCSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  PFN_SetDllDirectoryA setDllDirectory =
      kernel ? reinterpret_cast<PFN_SetDllDirectoryA>(
                   reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")))
             : nullptr;
  if (setDllDirectory) setDllDirectory("");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LeaveCurrentDirectoryOutOfDllSearch();
  (void)g_configAtStart;
  CUiDemoApp app;
  int code = 0;
  if (app.InitInstance()) code = app.Run();
  app.ExitInstance();
  return code;
}
