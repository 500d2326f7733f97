// One pass of the collector without the operating system: the rows of the system's TCP
// table and the records of its process snapshot go in; the report's query, the addresses
// it carries and the notification texts come out. The Windows side takes the snapshots,
// sends the request and marks the addresses once the service has taken the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "collector/game_table.h"

// One row of the owner-pid TCP table as the system lays it out: six 32-bit fields,
// addresses in network byte order, ports in network byte order in the low 16 bits.
struct TcpRow {
  uint32_t state;
  uint32_t localAddr;
  uint32_t localPort;
  uint32_t remoteAddr;
  uint32_t remotePort;
  uint32_t owningPid;
};

const uint32_t kTcpStateListen = 2;

// A connection of a process. The address texts are only needed for game processes, a
// small part of the table, so they are made on demand rather than for every row.
struct ConnectionEntry {
  uint32_t localAddr;   // network byte order
  uint16_t localPort;   // host byte order
  uint32_t remoteAddr;  // network byte order
  uint16_t remotePort;  // host byte order
  uint32_t state;
  uint32_t owningPid;
};

// The dotted quad of an address in network byte order, as inet_ntoa writes it.
std::string DottedQuad(uint32_t netOrderAddr);

struct ProcessRecord {
  uint32_t pid = 0;
  std::string exeFile;  // file name only, as the snapshot gives it
};

// A pass looks at no more process records than this.
const size_t kMaxProcessRecords = 200;

// Process id -> that process's connections in table order, listening rows left out.
typedef std::map<uint32_t, std::vector<ConnectionEntry>> ConnectionTable;
typedef std::map<uint32_t, ProcessRecord> ProcessTable;

// Both empty the table first.
void FillConnectionTable(const TcpRow* rows, size_t count, ConnectionTable* table);
void FillProcessTable(const std::vector<ProcessRecord>& records, ProcessTable* table);

// The shared local address that another program may publish. Asked once per connection
// examined, because its publisher may change it at any time.
class ISharedAddress {
 public:
  virtual ~ISharedAddress() {}
  // True and the address (network byte order) while one is published.
  virtual bool Read(uint32_t* netOrderAddr) = 0;
};

struct ReportPlan {
  std::string query;  // what follows "/report_ip.php?": "appid=7&ip=10.1.2.3;&..."
  // The addresses the report carries, each with its game; none repeated for one game.
  std::vector<std::pair<GameEntry*, std::string>> addresses;
  // The texts for the notify window, in the order the addresses were found.
  std::vector<std::string> notices;
};

// No report URL is longer than this: servers and proxies refuse longer request lines.
const size_t kMaxReportUrl = 2000;

// Builds the report of a pass: a block for every process, in ascending process id, whose
// executable is a game, holding the remote addresses of its connections that the game is
// not done with. Marks nothing: the caller does that once the request has an answer.
// The query stays within maxQuery bytes: the addresses (and blocks) that do not fit are
// left for a later pass. shared may be null (no shared address).
ReportPlan PlanReport(const ConnectionTable& connections, const ProcessTable& processes,
                      GameTable& games, ISharedAddress* shared, size_t maxQuery = ~size_t(0));

// Records the plan's addresses as reported for their games; the count of them.
uint32_t MarkReported(const ReportPlan& plan);
// Counts a failed report for each of the plan's addresses; an address reaches
// kMaxReportTries and is done with for the run. The count of addresses given up.
uint32_t MarkFailed(const ReportPlan& plan);

// The notification texts.
std::string DetectedNotice(const std::string& gameName, const std::string& address);
std::string UrlNotice(const std::string& url);

// The notify window's buffer, 300 bytes with the terminator.
const size_t kNoticeBufferSize = 300;

// Copies text into buf (size bytes, size >= 3). A text that does not fit is cut at a GBK
// character boundary (never half of a double-byte character) and keeps its closing CR LF.
// The length written, without the terminator.
size_t CopyNotice(const std::string& text, char* buf, size_t size);

// The worker's timing: a pass at tick 0, then every 3 ticks until a pass sends a report,
// every 15 ticks after that for the rest of the run. A report the service refused counts
// as sent: the quick period is for finding servers, not for hammering a failing service.
class CollectorSchedule {
 public:
  bool PassDue() const { return m_tick % m_period == 0; }
  void PassDone(bool reportSent) {
    if (reportSent) m_period = 15;
  }
  void Tick() { ++m_tick; }
  uint32_t TickCount() const { return m_tick; }
  uint32_t Period() const { return m_period; }

 private:
  uint32_t m_tick = 0;
  uint32_t m_period = 3;
};
