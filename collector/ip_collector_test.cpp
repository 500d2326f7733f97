// The collector's Windows side against the local service stand-in: the game list
// download, the report requests, the shared address mapping, the notify window and the
// worker's ticks. The machine's tables come from the test (Wine names no owning process).
#include "collector/ip_collector.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

const int kPagesPort = 80;

uint32_t Addr(const char* dotted) { return inet_addr(dotted); }

TcpRow Row(uint32_t pid, const char* remote, uint32_t state = 5,
           const char* local = "192.168.0.10") {
  return TcpRow{state, Addr(local), htons(50000), Addr(remote), htons(443), pid};
}

class FakeSnapshots : public ISnapshots {
 public:
  std::vector<TcpRow> rows;
  std::vector<ProcessRecord> processes;
  std::function<void()> beforeEachPass;
  int passes = 0;

  bool TcpRows(std::vector<TcpRow>* out) override {
    ++passes;
    if (beforeEachPass) beforeEachPass();
    *out = rows;
    return true;
  }
  bool Processes(std::vector<ProcessRecord>* out, size_t limit) override {
    out->assign(processes.begin(), processes.begin() + std::min(limit, processes.size()));
    return true;
  }
  void Process(uint32_t pid, const char* exe) {
    ProcessRecord r;
    r.pid = pid;
    r.exeFile = exe;
    processes.push_back(r);
  }
};

// Ticks without waiting; the worker stops once the last tick has passed.
class CountingSleep : public ITickSleep {
 public:
  explicit CountingSleep(uint32_t lastTick) : m_lastTick(lastTick) {}
  bool Sleep(DWORD ms) override {
    EXPECT_EQ(1000u, ms);
    return ++ticks <= m_lastTick;
  }
  uint32_t ticks = 0;

 private:
  uint32_t m_lastTick;
};

// The queries of the stand-in's record for /report_ip.php, in order, with their status.
struct Recorded {
  std::string query;
  std::string status;
};

std::string JsonMember(const std::string& line, const std::string& name) {
  std::string key = "\"" + name + "\":";
  size_t at = line.find(key);
  if (at == std::string::npos) return std::string();
  at += key.size();
  if (line[at] == '"') {
    size_t end = line.find('"', at + 1);
    return line.substr(at + 1, end - at - 1);
  }
  size_t end = line.find_first_of(",}", at);
  return line.substr(at, end - at);
}

std::vector<Recorded> RecordedRequests(const std::string& path) {
  std::vector<Recorded> out;
  std::string record;
  if (!ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &record)) return out;
  size_t pos = 0;
  while (pos < record.size()) {
    size_t end = record.find('\n', pos);
    if (end == std::string::npos) end = record.size();
    std::string line = record.substr(pos, end - pos);
    if (JsonMember(line, "path") == path && JsonMember(line, "port") == std::to_string(kPagesPort))
      out.push_back(Recorded{JsonMember(line, "query"), JsonMember(line, "status")});
    pos = end + 1;
  }
  return out;
}

class Collector : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("collect");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(CreateDirectoryA((dir_ + "\\cache").c_str(), nullptr));
    listPath_ = dir_ + "\\cache\\apps.xml";
    UseHost("127.0.0.1");
    collector_.SetSeams(&snapshots_, nullptr);
  }
  void TearDown() override {
    SetStubMode("/accel_apps.php", "normal");
    SetStubMode("/report_ip.php", "normal");
  }
  void UseHost(const char* host) { collector_.SetSite(CollectorSite{dir_ + "\\", host}); }

  // The stand-in's list: longcheng.exe is game 1 (龙城传说), jisu.exe game 4.
  void LoadStandInList() { ASSERT_TRUE(collector_.LoadGameList()); }

  std::string dir_;
  std::string listPath_;
  FakeSnapshots snapshots_;
  IpCollector collector_;
};

TEST_F(Collector, GameListComesFromTheStandInOnTheDefaultPort) {
  size_t before = RecordedRequests("/accel_apps.php").size();
  ASSERT_TRUE(collector_.LoadGameList());
  EXPECT_EQ(before + 1, RecordedRequests("/accel_apps.php").size());
  std::string served, cached;
  ASSERT_EQ(200, HttpRequest(kPagesPort, "GET", "/accel_apps.php", "", &served));
  ASSERT_TRUE(ReadFileBytes(listPath_, &cached));
  EXPECT_EQ(served, cached);
  EXPECT_FALSE(FileExists(listPath_ + ".tmp"));
  const GameTable& games = collector_.Games();
  ASSERT_EQ(6u, games.size());
  EXPECT_EQ(1, games.at("longcheng.exe").app_id);
  EXPECT_EQ("龙城传说", games.at("longcheng.exe").name);
}

TEST_F(Collector, FailedListDownloadsKeepTheCachedCopy) {
  const std::string earlier =
      "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<data><game app_id=\"12abc\" name=\"旧游戏\" "
      "exefile=\"old.exe\"/></data>\r\n";
  struct Case {
    const char* host;
    const char* mode;
  } cases[] = {{"127.0.0.2", "normal"}, {"127.0.0.1", "500"}, {"127.0.0.1", "404"},
               {"127.0.0.1", "cut"},    {"127.0.0.1", "drop"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " " + c.mode);
    IpCollector collector;
    collector.SetSite(CollectorSite{dir_ + "\\", c.host});
    ASSERT_TRUE(WriteFileBytes(listPath_, earlier));
    ASSERT_TRUE(SetStubMode("/accel_apps.php", c.mode));
    EXPECT_TRUE(collector.LoadGameList());
    std::string now;
    ASSERT_TRUE(ReadFileBytes(listPath_, &now));
    EXPECT_EQ(earlier, now);
    EXPECT_FALSE(FileExists(listPath_ + ".tmp"));
    ASSERT_EQ(1u, collector.Games().size());
    EXPECT_EQ(12, collector.Games().at("old.exe").app_id);
  }
}

TEST_F(Collector, NoListAtAllLeavesPassesWithNothingToReport) {
  UseHost("127.0.0.2");
  EXPECT_FALSE(collector_.LoadGameList());
  EXPECT_TRUE(collector_.Games().empty());
  EXPECT_FALSE(FileExists(listPath_));
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.rows = {Row(40, "10.1.2.3")};
  EXPECT_EQ(0u, collector_.ScanAndReport());
}

TEST_F(Collector, ReportGoesToTheStandInAndNotifiesTheWindow) {
  LoadStandInList();
  std::vector<std::pair<WPARAM, LPARAM>> posted;
  std::vector<std::string> textsSeen;
  CRecordingWindow window([&](UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_COLLECTOR_TEXT) return false;
    posted.emplace_back(wp, lp);
    textsSeen.push_back(reinterpret_cast<const char*>(lp));
    return true;
  });
  collector_.SetNotifyWindow(window.Handle());
  snapshots_.Process(50, "jisu.exe");
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.rows = {Row(40, "10.1.2.3"), Row(50, "0.0.0.0", 2), Row(40, "10.1.2.4"),
                     Row(40, "10.1.2.3")};
  size_t before = RecordedRequests("/report_ip.php").size();

  EXPECT_EQ(2u, collector_.ScanAndReport());
  std::vector<Recorded> reports = RecordedRequests("/report_ip.php");
  ASSERT_EQ(before + 1, reports.size());
  EXPECT_EQ("appid=1&ip=10.1.2.3;10.1.2.4;&appid=4&ip=&", reports.back().query);
  EXPECT_EQ("200", reports.back().status);

  PumpUntil([&] { return posted.size() >= 3; }, 2000);
  // Two addresses and the URL, all through the one buffer, which holds the last text.
  ASSERT_EQ(3u, posted.size());
  for (const auto& p : posted) {
    EXPECT_EQ(0u, p.first);
    EXPECT_EQ(posted[0].second, p.second);
  }
  EXPECT_EQ("URL= http://127.0.0.1/report_ip.php?appid=1&ip=10.1.2.3;10.1.2.4;&appid=4&ip=& \r\n",
            textsSeen.back());

  // The same connections again: only old addresses, no request, no message.
  EXPECT_EQ(0u, collector_.ScanAndReport());
  EXPECT_EQ(before + 1, RecordedRequests("/report_ip.php").size());
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(3u, posted.size());
}

TEST_F(Collector, FailedReportsAreSentAgainByTheNextPass) {
  LoadStandInList();
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.rows = {Row(40, "10.9.8.7"), Row(40, "10.9.8.6")};
  const std::string query = "appid=1&ip=10.9.8.7;10.9.8.6;&";

  UseHost("127.0.0.2");  // service down
  EXPECT_EQ(0u, collector_.ScanAndReport());
  EXPECT_TRUE(collector_.Games().at("longcheng.exe").reported.empty());

  UseHost("127.0.0.1");
  ASSERT_TRUE(SetStubMode("/report_ip.php", "500"));
  EXPECT_EQ(0u, collector_.ScanAndReport());
  ASSERT_FALSE(RecordedRequests("/report_ip.php").empty());
  EXPECT_EQ(query, RecordedRequests("/report_ip.php").back().query);
  EXPECT_EQ("500", RecordedRequests("/report_ip.php").back().status);

  ASSERT_TRUE(SetStubMode("/report_ip.php", "normal"));
  size_t before = RecordedRequests("/report_ip.php").size();
  EXPECT_EQ(2u, collector_.ScanAndReport());
  std::vector<Recorded> reports = RecordedRequests("/report_ip.php");
  ASSERT_EQ(before + 1, reports.size());
  EXPECT_EQ(query, reports.back().query);
  EXPECT_EQ("200", reports.back().status);
  EXPECT_EQ(0u, collector_.ScanAndReport());
}

TEST_F(Collector, NullNotifyWindowPostsNothing) {
  LoadStandInList();
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.rows = {Row(40, "10.5.5.5")};
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(1u, collector_.ScanAndReport());
  // A message posted to a null window would land in this thread's own queue.
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_COLLECTOR_TEXT, WM_COLLECTOR_TEXT, PM_REMOVE));
}

TEST_F(Collector, SharedAddressFromTheNamedMapping) {
  uint32_t addr = 0;
  EXPECT_FALSE(collector_.ReadSharedAddress(&addr));  // nobody publishes it

  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      "TidewireShare");
  ASSERT_NE(nullptr, mapping);
  volatile uint32_t* word =
      static_cast<volatile uint32_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 256));
  ASSERT_NE(nullptr, word);

  // Published now, still zero: none. Tried again after the failed open.
  EXPECT_FALSE(collector_.ReadSharedAddress(&addr));
  *word = Addr("172.16.0.2");
  ASSERT_TRUE(collector_.ReadSharedAddress(&addr));
  EXPECT_EQ(Addr("172.16.0.2"), addr);
  *word = Addr("172.16.0.9");  // read afresh at each check
  ASSERT_TRUE(collector_.ReadSharedAddress(&addr));
  EXPECT_EQ(Addr("172.16.0.9"), addr);

  LoadStandInList();
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.rows = {Row(40, "10.7.0.1", 5, "192.168.0.10"), Row(40, "10.7.0.2", 5, "172.16.0.9")};
  size_t before = RecordedRequests("/report_ip.php").size();
  EXPECT_EQ(1u, collector_.ScanAndReport());
  ASSERT_EQ(before + 1, RecordedRequests("/report_ip.php").size());
  EXPECT_EQ("appid=1&ip=10.7.0.2;&", RecordedRequests("/report_ip.php").back().query);

  *word = 0;  // withdrawn: every connection counts again
  EXPECT_EQ(1u, collector_.ScanAndReport());
  EXPECT_EQ("appid=1&ip=10.7.0.1;&", RecordedRequests("/report_ip.php").back().query);

  UnmapViewOfFile(const_cast<uint32_t*>(word));
  CloseHandle(mapping);
}

TEST_F(Collector, WorkerPassesAtTicks0369ThenEvery15AfterAReport) {
  std::vector<uint32_t> passTicks;
  CountingSleep sleep(31);
  snapshots_.Process(40, "longcheng.exe");
  snapshots_.beforeEachPass = [&] {
    passTicks.push_back(sleep.ticks);
    // The game talks to a new server from tick 6 on.
    if (sleep.ticks == 6) snapshots_.rows = {Row(40, "10.6.6.6")};
  };
  collector_.SetSeams(&snapshots_, &sleep);
  size_t listsBefore = RecordedRequests("/accel_apps.php").size();
  collector_.RunWorker(nullptr);
  EXPECT_EQ(listsBefore + 1, RecordedRequests("/accel_apps.php").size());
  EXPECT_EQ((std::vector<uint32_t>{0, 3, 6, 15, 30}), passTicks);
  EXPECT_EQ("appid=1&ip=10.6.6.6;&", RecordedRequests("/report_ip.php").back().query);
}

TEST(SystemSnapshots, TheMachinesConnectionsAndProcesses) {
  // A connection of this process to the stand-in's list port.
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kStubListPort);
  to.sin_addr.s_addr = Addr("127.0.0.1");
  ASSERT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to));

  CSystemSnapshots system;
  std::vector<TcpRow> rows;
  ASSERT_TRUE(system.TcpRows(&rows));
  ConnectionTable table;
  FillConnectionTable(rows.data(), rows.size(), &table);
  bool found = false;
  for (const auto& process : table)
    for (const ConnectionEntry& c : process.second)
      found |= c.remotePort == kStubListPort && c.remoteAddr == Addr("127.0.0.1") && c.state == 5;
  EXPECT_TRUE(found);
  closesocket(s);

  std::vector<ProcessRecord> records;
  ASSERT_TRUE(system.Processes(&records, kMaxProcessRecords));
  EXPECT_FALSE(records.empty());
  EXPECT_LE(records.size(), kMaxProcessRecords);
  ASSERT_TRUE(system.Processes(&records, 1));
  EXPECT_EQ(1u, records.size());
  WSACleanup();
}

}  // namespace
