// The diagnostic report's generation, the background worker's job for WM_WORKER_REPORT: the
// report file "REPORT.TXT" in Cache, rewritten by each run, with every command's header and
// output, the output streamed to the diagnostics page as it comes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "client/diag/report_commands.h"

class CConfigStore;

// Worker -> diagnostics page.
#define WM_REPORT_OUTPUT (WM_USER + 208)  // byte count, heap block (FreeOutputChunk)
#define WM_REPORT_DONE (WM_USER + 209)    // ReportOutcome, 0

enum ReportOutcome {
  kReportComplete = 0,
  kReportNoFile = 1,  // the report file could not be created; no command ran
};

// Runs the fitting commands in order into a new file at path, posting output chunks to
// window with `message`. False when the file could not be created (nothing ran).
bool WriteDiagReport(const std::string& path, const std::vector<ReportCommand>& commands,
                     HWND window, UINT message);

// The whole job: the commands filled from the store, the skipped ones noted in the run log,
// the report written, and WM_REPORT_DONE posted to window in every case, so that the page
// never waits for an end that does not come.
void RunReportJob(CConfigStore& store, HWND window, UINT message);

// The public host of the reachability ping: the key ReachHost of section [Service] of
// "service.ini" in the program directory when it holds a host name, else a well-known site.
std::string ReportReachHost(const char* programDir);
