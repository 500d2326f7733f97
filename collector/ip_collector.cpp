#include "collector/ip_collector.h"

#include <vector>

#include "collector/url_fetch.h"
#include "common/service_hosts.h"
#include "common/xml_doc.h"

namespace {

const char kSharedMappingName[] = "TidewireShare";

// The library's one notification buffer: a receiver copies the text while it handles
// the message.
char g_noticeBuffer[kNoticeBufferSize];

class CSharedAddressOf : public ISharedAddress {
 public:
  explicit CSharedAddressOf(IpCollector* collector) : m_collector(collector) {}
  bool Read(uint32_t* netOrderAddr) override { return m_collector->ReadSharedAddress(netOrderAddr); }

 private:
  IpCollector* m_collector;
};

}  // namespace

CollectorSite LocateCollectorSite() {
  CollectorSite site;
  // The program's file, not the library's: the list lives in the client's cache.
  char path[500];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  // A path that filled the buffer was cut (and XP leaves it unterminated).
  if (n == 0 || n >= sizeof path) {
    site.programDir = ".\\";
  } else {
    std::string file(path, n);
    size_t slash = file.rfind('\\');
    site.programDir = slash == std::string::npos ? ".\\" : file.substr(0, slash + 1);
  }
  // The client's own reading of the file: both must talk to the same service.
  site.clientHost = ReadServiceHosts(site.programDir + "service.ini").client;
  return site;
}

IpCollector::IpCollector() : m_snapshots(&m_systemSnapshots), m_sleep(&m_systemSleep) {
  // Kept loaded for the life of the process, as the snapshots need it on every pass.
  LoadLibraryA("iphlpapi.dll");
}

IpCollector::~IpCollector() {
  if (m_sharedView) UnmapViewOfFile(m_sharedView);
  if (m_sharedMapping) CloseHandle(m_sharedMapping);
}

void IpCollector::SetSite(const CollectorSite& site) {
  m_site = site;
  m_siteKnown = true;
}

void IpCollector::SetSeams(ISnapshots* snapshots, ITickSleep* sleep) {
  m_snapshots = snapshots ? snapshots : &m_systemSnapshots;
  m_sleep = sleep ? sleep : &m_systemSleep;
}

void IpCollector::EnsureSite() {
  if (m_siteKnown) return;
  m_site = LocateCollectorSite();
  m_siteKnown = true;
}

void IpCollector::RunWorker(HWND notify) {
  m_notify = notify;
  LoadGameList();
  CollectorSchedule schedule;
  for (;;) {
    if (schedule.PassDue()) {
      bool sent = false;
      ScanAndReport(&sent);
      schedule.PassDone(sent);
    }
    if (!m_sleep->Sleep(1000)) return;
    schedule.Tick();
  }
}

bool IpCollector::LoadGameList() {
  EnsureSite();
  std::string path = m_site.programDir + "cache\\apps.xml";
  // Its outcome does not matter here: a failed download leaves the earlier run's copy.
  FetchListFile("http://" + m_site.clientHost + "/accel_apps.php", path, "data");
  CXmlDoc doc;
  if (!doc.LoadFile(path)) return false;
  return ReadGameList(doc, &m_games);
}

uint32_t IpCollector::ScanAndReport(bool* sent) {
  if (sent) *sent = false;
  EnsureSite();
  m_processes.clear();
  m_connections.clear();
  std::vector<TcpRow> rows;
  m_snapshots->TcpRows(&rows);
  FillConnectionTable(rows.data(), rows.size(), &m_connections);
  std::vector<ProcessRecord> records;
  m_snapshots->Processes(&records, kMaxProcessRecords);
  FillProcessTable(records, &m_processes);

  CSharedAddressOf shared(this);
  const std::string base = "http://" + m_site.clientHost + "/report_ip.php?";
  // A host from service.ini is short; one that leaves no room reports nothing.
  if (base.size() >= kMaxReportUrl) return 0;
  ReportPlan plan = PlanReport(m_connections, m_processes, m_games, &shared,
                               kMaxReportUrl - base.size());
  if (plan.addresses.empty()) return 0;
  for (const std::string& notice : plan.notices) Notify(notice);
  std::string url = base + plan.query;
  Notify(UrlNotice(url));
  if (sent) *sent = true;
  // Marked only once the service has the report: after a failed request (service down,
  // an error answer) the same addresses go into the next pass's report, up to
  // kMaxReportTries reports in all.
  if (!RequestReport(url)) {
    MarkFailed(plan);
    return 0;
  }
  return MarkReported(plan);
}

bool IpCollector::ReadSharedAddress(uint32_t* netOrderAddr) {
  if (!m_sharedView) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, kSharedMappingName);
    if (!mapping) return false;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 256);
    if (!view) {
      CloseHandle(mapping);
      return false;
    }
    m_sharedMapping = mapping;
    m_sharedView = view;
  }
  // Any program of the session may have made the section first, reserved and never
  // committed, or backed by a file that has gone away: a plain read would fault on this
  // thread and end the client. Read through the process's own memory instead, which fails
  // where the read would fault. The publisher may change the word at any time, and nothing
  // says it writes the four bytes at once (a copy byte by byte would show half an old
  // address): the word counts once two reads in a row agree.
  uint32_t word = 0;
  bool agreed = false;
  for (int read = 0; read < 8 && !agreed; ++read) {
    uint32_t again = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), m_sharedView, &again, sizeof again, &got) ||
        got != sizeof again)
      return false;
    agreed = read > 0 && again == word;
    word = again;
  }
  if (!agreed || word == 0) return false;
  *netOrderAddr = word;
  return true;
}

void IpCollector::Notify(const std::string& text) {
  if (!m_notify) return;
  CopyNotice(text, g_noticeBuffer, sizeof g_noticeBuffer);
  PostMessageA(m_notify, WM_COLLECTOR_TEXT, 0, reinterpret_cast<LPARAM>(g_noticeBuffer));
}
