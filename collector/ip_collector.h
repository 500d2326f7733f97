// IpCollector: the collector's one object. Its worker loads the game list once, then runs
// a pass at once and every 3 ticks until a pass sends a report, every 15 ticks after that; each
// pass reports the new server addresses of the game processes to the service.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "collector/game_table.h"
#include "collector/scan_pass.h"
#include "collector/snapshots.h"

// Notification to the notify window: lParam points at the library's one text buffer,
// which the next text overwrites.
const UINT WM_COLLECTOR_TEXT = WM_USER + 51;

// Where the collector works: the directory of the program that loaded it (with its
// "cache" directory) and the service's client host, which serves the list and the reports.
struct CollectorSite {
  std::string programDir;  // ends in '\'
  std::string clientHost;
};

// The program's directory from GetModuleFileNameA(NULL) (".\" when it cannot be had) and
// the client host: the compiled-in name, unless "service.ini" beside the program names
// another under [Service] ClientHost, the file the client program reads for its own hosts.
CollectorSite LocateCollectorSite();

class IpCollector {
 public:
  IpCollector();
  ~IpCollector();
  IpCollector(const IpCollector&) = delete;
  IpCollector& operator=(const IpCollector&) = delete;

  // Tests only: a site of their own instead of the program's, and their own snapshots
  // and tick. Null keeps the system's.
  void SetSite(const CollectorSite& site);
  void SetSeams(ISnapshots* snapshots, ITickSleep* sleep);

  // The worker thread's body: never returns while the tick goes on.
  void RunWorker(HWND notify);

  void SetNotifyWindow(HWND notify) { m_notify = notify; }
  // Downloads "/accel_apps.php" to "cache\apps.xml" (an earlier copy survives a failed
  // download) and reads the games from that file. False when no list could be read.
  bool LoadGameList();
  // One pass; the count of addresses the service took in it (0: none found, nothing
  // asked, or the request failed and they wait for a later pass). sent, when given, says
  // whether a report was requested at all, answered or not.
  uint32_t ScanAndReport(bool* sent = nullptr);
  // The address published in the mapping "TidewireShare", when one is.
  bool ReadSharedAddress(uint32_t* netOrderAddr);

  const GameTable& Games() const { return m_games; }
  const CollectorSite& Site() const { return m_site; }

 private:
  void EnsureSite();
  void Notify(const std::string& text);

  HWND m_notify = nullptr;
  GameTable m_games;
  ConnectionTable m_connections;
  ProcessTable m_processes;
  CollectorSite m_site;
  bool m_siteKnown = false;
  CSystemSnapshots m_systemSnapshots;
  CSystemSleep m_systemSleep;
  ISnapshots* m_snapshots;
  ITickSleep* m_sleep;
  HANDLE m_sharedMapping = nullptr;
  const void* m_sharedView = nullptr;
};
