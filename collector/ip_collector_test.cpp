// The collector's Windows side against the local service stand-in: the game list
// download, the report requests, the shared address mapping, the notify window and the
// worker's ticks. The machine's tables come from the test (Wine names no owning process).
#include "collector/ip_collector.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

TcpRow Row(uint32_t pid, const char* remote, const char* local = "192.168.0.10") {
  return TcpRow{5, inet_addr(local), htons(50000), inet_addr(remote), htons(443), pid};
}

class FakeSnapshots : public ISnapshots {
 public:
  std::vector<TcpRow> rows;
  std::vector<ProcessRecord> processes;
  std::function<void()> beforeEachPass;

  bool TcpRows(std::vector<TcpRow>* out) override {
    if (beforeEachPass) beforeEachPass();
    *out = rows;
    return true;
  }
  bool Processes(std::vector<ProcessRecord>* out, size_t limit) override {
    out->assign(processes.begin(), processes.begin() + std::min(limit, processes.size()));
    return true;
  }
};

// Ticks without waiting; the worker stops after the last one.
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

// "query status" of each request for path on the stand-in's pages port, in order.
std::vector<std::string> Recorded(const std::string& path) {
  std::vector<std::string> out;
  std::string record;
  ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &record);
  const std::string tag = "\"port\":80,";
  for (size_t at = record.find(tag); at != std::string::npos; at = record.find(tag, at + 1)) {
    std::string line = record.substr(at, record.find('\n', at) - at);
    if (line.find("\"path\":\"" + path + "\"") == std::string::npos) continue;
    size_t q = line.find("\"query\":\"") + 9, s = line.find("\"status\":") + 9;
    out.push_back(line.substr(q, line.find('"', q) - q) + " " +
                  line.substr(s, line.find_first_of(",}", s) - s));
  }
  return out;
}

class Collector : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("collect");
    ASSERT_TRUE(CreateDirectoryA((dir_ + "\\cache").c_str(), nullptr));
    listPath_ = dir_ + "\\cache\\apps.xml";
    UseHost("127.0.0.1");
    collector_.SetSeams(&snapshots_, nullptr);
    // In the stand-in's list longcheng.exe is game 1 (龙城传说), jisu.exe game 4.
    snapshots_.processes = {{50, "jisu.exe"}, {40, "longcheng.exe"}};
  }
  void TearDown() override {
    SetStubMode("/accel_apps.php", "normal");
    SetStubMode("/report_ip.php", "normal");
  }
  void UseHost(const char* host) { collector_.SetSite(CollectorSite{dir_ + "\\", host}); }

  std::string dir_;
  std::string listPath_;
  FakeSnapshots snapshots_;
  IpCollector collector_;
};

TEST_F(Collector, GameListFromTheStandInOrFromTheCachedCopy) {
  // Neither the service nor a cached copy: no games, and passes report nothing.
  UseHost("127.0.0.2");
  EXPECT_FALSE(collector_.LoadGameList());
  snapshots_.rows = {Row(40, "10.1.2.3")};
  EXPECT_EQ(0u, collector_.ScanAndReport());

  size_t before = Recorded("/accel_apps.php").size();
  UseHost("127.0.0.1");
  ASSERT_TRUE(collector_.LoadGameList());
  EXPECT_EQ(before + 1, Recorded("/accel_apps.php").size());
  std::string served, cached;
  ASSERT_EQ(200, HttpRequest(80, "GET", "/accel_apps.php", "", &served));
  ASSERT_TRUE(ReadFileBytes(listPath_, &cached));
  EXPECT_EQ(served, cached);
  ASSERT_EQ(6u, collector_.Games().size());
  EXPECT_EQ("龙城传说", collector_.Games().at("longcheng.exe").name);

  // A failed download never destroys the copy of an earlier run.
  const std::string earlier =
      "<data><game app_id=\"12abc\" name=\"旧游戏\" exefile=\"old.exe\"/></data>\r\n";
  const std::pair<const char*, const char*> failures[] = {
      {"127.0.0.2", "normal"}, {"127.0.0.1", "500"}, {"127.0.0.1", "cut"}, {"127.0.0.1", "drop"}};
  for (const auto& f : failures) {
    SCOPED_TRACE(std::string(f.first) + " " + f.second);
    IpCollector collector;
    collector.SetSite(CollectorSite{dir_ + "\\", f.first});
    ASSERT_TRUE(WriteFileBytes(listPath_, earlier));
    ASSERT_TRUE(SetStubMode("/accel_apps.php", f.second));
    EXPECT_TRUE(collector.LoadGameList());
    ASSERT_TRUE(ReadFileBytes(listPath_, &cached));
    EXPECT_EQ(earlier, cached);
    EXPECT_FALSE(FileExists(listPath_ + ".tmp"));
    ASSERT_EQ(1u, collector.Games().size());
    EXPECT_EQ(12, collector.Games().at("old.exe").app_id);
  }
  // Answered whole with 200, but no whole list: binary noise, a list cut inside an element.
  std::string list;
  ASSERT_TRUE(SetStubMode("/accel_apps.php", "normal"));
  ASSERT_EQ(200, HttpRequest(80, "GET", "/accel_apps.php", "", &list));
  for (const std::string& body : {std::string("\x1f\x8b\x08\0<data>\xff\xfe", 12),
                                  list.substr(0, list.size() / 2)}) {
    CLoopbackServer server(body);
    IpCollector collector;
    collector.SetSite(CollectorSite{dir_ + "\\", server.Url("").substr(7)});
    ASSERT_TRUE(WriteFileBytes(listPath_, earlier));
    EXPECT_TRUE(collector.LoadGameList());
    EXPECT_EQ(1, server.Requests());
    ASSERT_TRUE(ReadFileBytes(listPath_, &cached));
    EXPECT_EQ(earlier, cached);
    EXPECT_EQ(1u, collector.Games().size());
  }
}

TEST_F(Collector, ReportGoesToTheStandInAndNotifiesTheWindow) {
  ASSERT_TRUE(collector_.LoadGameList());
  std::vector<std::pair<WPARAM, LPARAM>> posted;
  std::string lastText;
  CRecordingWindow window([&](UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_COLLECTOR_TEXT) return false;
    posted.emplace_back(wp, lp);
    lastText = reinterpret_cast<const char*>(lp);
    return true;
  });
  collector_.SetNotifyWindow(window.Handle());
  snapshots_.rows = {Row(40, "10.1.2.3"), Row(40, "10.1.2.4"), Row(40, "10.1.2.3")};
  size_t before = Recorded("/report_ip.php").size();

  EXPECT_EQ(2u, collector_.ScanAndReport());
  std::vector<std::string> reports = Recorded("/report_ip.php");
  ASSERT_EQ(before + 1, reports.size());
  EXPECT_EQ("appid=1&ip=10.1.2.3;10.1.2.4;&appid=4&ip=& 200", reports.back());
  PumpUntil([&] { return posted.size() >= 3; }, 2000);
  // Two addresses and the URL, all through the one buffer, which holds the last text.
  ASSERT_EQ(3u, posted.size());
  for (const auto& p : posted) EXPECT_EQ(std::make_pair(WPARAM(0), posted[0].second), p);
  EXPECT_EQ("URL= http://127.0.0.1/report_ip.php?appid=1&ip=10.1.2.3;10.1.2.4;&appid=4&ip=& \r\n",
            lastText);

  // Only old addresses: no request, no message.
  EXPECT_EQ(0u, collector_.ScanAndReport());
  EXPECT_EQ(before + 1, Recorded("/report_ip.php").size());
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(3u, posted.size());
}

TEST_F(Collector, FailedReportsAreSentAgainByTheNextPass) {
  ASSERT_TRUE(collector_.LoadGameList());
  snapshots_.rows = {Row(40, "10.9.8.7"), Row(40, "10.9.8.6")};
  const std::string query = "appid=1&ip=10.9.8.7;10.9.8.6;&appid=4&ip=&";
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }

  UseHost("127.0.0.2");  // service down
  EXPECT_EQ(0u, collector_.ScanAndReport());
  UseHost("127.0.0.1");
  ASSERT_TRUE(SetStubMode("/report_ip.php", "500"));
  EXPECT_EQ(0u, collector_.ScanAndReport());
  EXPECT_EQ(query + " 500", Recorded("/report_ip.php").back());
  ASSERT_TRUE(SetStubMode("/report_ip.php", "normal"));
  EXPECT_EQ(2u, collector_.ScanAndReport());
  EXPECT_EQ(query + " 200", Recorded("/report_ip.php").back());
  EXPECT_EQ(0u, collector_.ScanAndReport());
  // No notify window: a post to a null window would have landed in this thread's queue.
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_COLLECTOR_TEXT, WM_COLLECTOR_TEXT, PM_REMOVE));
}

TEST_F(Collector, RefusedReportsSlowDownAndStopAfterThreeTries) {
  ASSERT_TRUE(collector_.LoadGameList());
  ASSERT_TRUE(SetStubMode("/report_ip.php", "500"));
  std::vector<uint32_t> passTicks;
  CountingSleep sleep(60);
  snapshots_.rows = {Row(40, "10.5.5.1")};
  snapshots_.beforeEachPass = [&] {
    passTicks.push_back(sleep.ticks);
    if (sleep.ticks == 45) snapshots_.rows.push_back(Row(40, "10.5.5.2"));
  };
  collector_.SetSeams(&snapshots_, &sleep);
  size_t before = Recorded("/report_ip.php").size();
  collector_.RunWorker(nullptr);
  EXPECT_EQ((std::vector<uint32_t>{0, 15, 30, 45, 60}), passTicks);
  std::vector<std::string> reports = Recorded("/report_ip.php");
  ASSERT_LE(before, reports.size());
  reports.erase(reports.begin(), reports.begin() + before);
  const std::string first = "appid=1&ip=10.5.5.1;&appid=4&ip=& 500";
  const std::string second = "appid=1&ip=10.5.5.2;&appid=4&ip=& 500";
  EXPECT_EQ((std::vector<std::string>{first, first, first, second, second}), reports);
}

TEST_F(Collector, ManyNewAddressesGoOutInReportsOfAtMost2000Bytes) {
  ASSERT_TRUE(collector_.LoadGameList());
  std::vector<std::string> addresses;
  for (int i = 0; i < 500; ++i) {
    char text[16];
    std::snprintf(text, sizeof text, "100.200.%d.%d", 100 + i / 100, 100 + i % 100);
    addresses.push_back(text);
    snapshots_.rows.push_back(Row(40, text));
  }
  size_t before = Recorded("/report_ip.php").size();
  uint32_t taken = 0;
  for (int pass = 0; pass < 10; ++pass) taken += collector_.ScanAndReport();
  EXPECT_EQ(500u, taken);
  std::vector<std::string> reports = Recorded("/report_ip.php");
  ASSERT_LT(before, reports.size());
  std::vector<std::string> sent;
  for (size_t i = before; i < reports.size(); ++i) {
    const std::string& r = reports[i];
    SCOPED_TRACE(r);
    ASSERT_EQ(" 200", r.substr(r.size() - 4));
    std::string query = r.substr(0, r.size() - 4);
    EXPECT_GE(2000u, std::string("http://127.0.0.1/report_ip.php?").size() + query.size());
    ASSERT_EQ(0u, query.find("appid=1&ip="));
    for (size_t at = 11, end; (end = query.find(';', at)) != std::string::npos; at = end + 1)
      sent.push_back(query.substr(at, end - at));
  }
  EXPECT_LE(5u, reports.size() - before);
  EXPECT_EQ(addresses, sent);  // each once, in the order they were found
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

  EXPECT_FALSE(collector_.ReadSharedAddress(&addr));  // published, but zero
  *word = inet_addr("172.16.0.2");
  ASSERT_TRUE(collector_.ReadSharedAddress(&addr));
  EXPECT_EQ(inet_addr("172.16.0.2"), addr);
  *word = inet_addr("172.16.0.9");  // read afresh at each check
  ASSERT_TRUE(collector_.ReadSharedAddress(&addr));
  EXPECT_EQ(inet_addr("172.16.0.9"), addr);

  ASSERT_TRUE(collector_.LoadGameList());
  snapshots_.rows = {Row(40, "10.7.0.1"), Row(40, "10.7.0.2", "172.16.0.9")};
  EXPECT_EQ(1u, collector_.ScanAndReport());
  EXPECT_EQ("appid=1&ip=10.7.0.2;&appid=4&ip=& 200", Recorded("/report_ip.php").back());
  *word = 0;  // withdrawn: every connection counts again
  EXPECT_EQ(1u, collector_.ScanAndReport());
  EXPECT_EQ("appid=1&ip=10.7.0.1;&appid=4&ip=& 200", Recorded("/report_ip.php").back());
  UnmapViewOfFile(const_cast<uint32_t*>(word));
  CloseHandle(mapping);
}

TEST_F(Collector, AReservedSectionUnderTheSharedNameIsNoAddressAndThePassReports) {
  // Made first by another program of the session, never committed: reading it faults.
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE,
                                      0, 65536, "TidewireShare");
  ASSERT_NE(nullptr, mapping);
  ASSERT_TRUE(collector_.LoadGameList());
  snapshots_.rows = {Row(40, "10.8.8.1", "192.168.9.9")};
  uint32_t addr = 0;
  EXPECT_FALSE(collector_.ReadSharedAddress(&addr));
  EXPECT_EQ(1u, collector_.ScanAndReport());
  EXPECT_EQ("appid=1&ip=10.8.8.1;&appid=4&ip=& 200", Recorded("/report_ip.php").back());
  CloseHandle(mapping);
}

TEST_F(Collector, WorkerPassesAtTicks0369ThenEvery15AfterAReport) {
  std::vector<uint32_t> passTicks;
  CountingSleep sleep(31);
  snapshots_.beforeEachPass = [&] {
    passTicks.push_back(sleep.ticks);
    if (sleep.ticks == 6) snapshots_.rows = {Row(40, "10.6.6.6")};  // a new server from tick 6
  };
  collector_.SetSeams(&snapshots_, &sleep);
  size_t lists = Recorded("/accel_apps.php").size();
  collector_.RunWorker(nullptr);
  EXPECT_EQ(lists + 1, Recorded("/accel_apps.php").size());
  EXPECT_EQ((std::vector<uint32_t>{0, 3, 6, 15, 30}), passTicks);
  EXPECT_EQ("appid=1&ip=10.6.6.6;&appid=4&ip=& 200", Recorded("/report_ip.php").back());
}

TEST(SystemSnapshots, TheMachinesConnectionsAndProcesses) {
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &wsa));
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kStubListPort);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(0, connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to));

  CSystemSnapshots system;
  std::vector<TcpRow> rows;
  ASSERT_TRUE(system.TcpRows(&rows));
  ConnectionTable table;
  FillConnectionTable(rows.data(), rows.size(), &table);
  bool found = false;
  for (const auto& process : table)
    for (const ConnectionEntry& c : process.second)
      found |= c.remotePort == kStubListPort && DottedQuad(c.remoteAddr) == "127.0.0.1";
  EXPECT_TRUE(found);
  closesocket(s);

  std::vector<ProcessRecord> records;
  ASSERT_TRUE(system.Processes(&records, kMaxProcessRecords));
  EXPECT_FALSE(records.empty());
  ASSERT_TRUE(system.Processes(&records, 1));
  EXPECT_EQ(1u, records.size());
  WSACleanup();
}

}  // namespace
