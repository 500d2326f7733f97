// Entry point of accelclient.exe. The configuration store is built during static
// construction, before WinMain: its start fetches the service's lists and writes the first
// lines of the run log; the run log's size check follows it.
#include <windows.h>

#include "client/account/config_store.h"
#include "client/diag/ui_worker.h"
#include "client/shell/one_client.h"
#include "client/shell/ui_demo_app.h"
#include "common/run_log.h"

namespace {

// Same translation unit, so this order holds: the DLL search is hardened and a second
// client has ended before the store downloads anything; the store sets the log path that
// the size check then inspects, and starts the background worker as its last step.
COneClient g_oneClient;
CConfigStore& g_configAtStart = ConfigStore(&StartUiWorker);
CRunLog g_runLog;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  (void)g_configAtStart;
  CUiDemoApp app;
  int code = 0;
  if (app.InitInstance()) code = app.Run();
  app.ExitInstance();
  return code;
}
