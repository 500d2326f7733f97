// One pass of the collector, from the system's tables to the report, and its timing.
#include "collector/scan_pass.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <set>

namespace {

uint32_t A(const char* dotted) {  // network byte order, as the system's table holds it
  unsigned p[4] = {};
  std::sscanf(dotted, "%u.%u.%u.%u", &p[0], &p[1], &p[2], &p[3]);
  unsigned char b[4] = {static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[1]),
                        static_cast<unsigned char>(p[2]), static_cast<unsigned char>(p[3])};
  uint32_t v;
  std::memcpy(&v, b, 4);
  return v;
}

uint32_t PortField(unsigned port) {  // network order in the low 16 bits
  unsigned char b[4] = {static_cast<unsigned char>(port >> 8), static_cast<unsigned char>(port), 0, 0};
  uint32_t v;
  std::memcpy(&v, b, 4);
  return v;
}

const uint32_t kListen = 2, kEstablished = 5, kCloseWait = 8, kTimeWait = 11;

struct Conn {
  uint32_t pid;
  const char* remote;
  uint32_t state = kEstablished;
  unsigned port = 443;
  const char* local = "192.168.0.10";
};

struct Machine {
  std::vector<std::pair<const char*, int32_t>> games;
  std::vector<std::pair<uint32_t, const char*>> processes;
  std::vector<Conn> conns;
  GameTable table{};

  ReportPlan Pass(ISharedAddress* shared = nullptr, size_t maxQuery = ~size_t(0)) {
    if (table.empty())
      for (const auto& g : games) table[g.first] = GameEntry{g.second, g.first, "游戏", {}, {}};
    std::vector<TcpRow> rows;
    for (const Conn& c : conns)
      rows.push_back(TcpRow{c.state, A(c.local), PortField(50000), A(c.remote), PortField(c.port), c.pid});
    std::vector<ProcessRecord> records;
    for (const auto& p : processes) records.push_back(ProcessRecord{p.first, p.second});
    ConnectionTable connections;
    ProcessTable processTable;
    FillConnectionTable(rows.data(), rows.size(), &connections);
    FillProcessTable(records, &processTable);
    return PlanReport(connections, processTable, table, shared, maxQuery);
  }
};

TEST(ConnectionTable, RowsByProcessInHostOrderWithoutListeningOnes) {
  std::vector<TcpRow> rows = {{kEstablished, A("192.168.0.10"), PortField(50000), A("10.0.0.1"), PortField(8080), 7},
                              {kListen, 0, PortField(80), 0, 0, 7},
                              {kTimeWait, 0, 0, A("255.255.255.255"), 0, 9}};
  ConnectionTable table;
  table[99].push_back(ConnectionEntry());  // a leftover of an earlier pass
  FillConnectionTable(rows.data(), rows.size(), &table);
  ASSERT_EQ(2u, table.size());
  ASSERT_EQ(1u, table[7].size());
  EXPECT_EQ(8080, table[7][0].remotePort);
  EXPECT_EQ(50000, table[7][0].localPort);
  EXPECT_EQ("10.0.0.1", DottedQuad(table[7][0].remoteAddr));
  EXPECT_EQ("192.168.0.10", DottedQuad(table[7][0].localAddr));
  EXPECT_EQ("255.255.255.255", DottedQuad(table[9][0].remoteAddr));
}

TEST(ReportPlan, Queries) {
  struct Case {
    const char* what;
    Machine m;
    const char* query;
    size_t count;
  } cases[] = {
      {"one game, two new addresses",
       {{{"game.exe", 7}}, {{100, "game.exe"}}, {{100, "10.1.2.3"}, {100, "10.1.2.4"}}},
       "appid=7&ip=10.1.2.3;10.1.2.4;&", 2},
      {"a second game that contributes nothing keeps its empty block, blocks by process id",
       {{{"a.exe", 7}, {"b.exe", 9}}, {{200, "b.exe"}, {100, "a.exe"}},
        {{100, "10.1.2.3"}, {200, "0.0.0.0", kListen}}},
       "appid=7&ip=10.1.2.3;&appid=9&ip=&", 1},
      {"only listening sockets",
       {{{"game.exe", 7}}, {{100, "game.exe"}}, {{100, "0.0.0.0", kListen}}}, "appid=7&ip=&", 0},
      {"two processes of one game: a block each, no address twice",
       {{{"game.exe", 7}}, {{101, "game.exe"}, {100, "game.exe"}},
        {{101, "10.0.0.1"}, {101, "10.0.0.2"}, {100, "10.0.0.1"}}},
       "appid=7&ip=10.0.0.1;&appid=7&ip=10.0.0.2;&", 2},
      {"two connections to one address, different ports",
       {{{"game.exe", 7}}, {{100, "game.exe"}},
        {{100, "1.2.3.4", kEstablished, 7000}, {100, "1.2.3.4", kEstablished, 7001}}},
       "appid=7&ip=1.2.3.4;&", 1},
      {"one address of two games is reported for each",
       {{{"a.exe", 1}, {"b.exe", 2}}, {{100, "a.exe"}, {200, "b.exe"}},
        {{100, "1.2.3.4"}, {200, "1.2.3.4"}}},
       "appid=1&ip=1.2.3.4;&appid=2&ip=1.2.3.4;&", 2},
      {"loopback, private and link-local alike; TIME_WAIT and CLOSE_WAIT count",
       {{{"game.exe", -3}}, {{100, "game.exe"}},
        {{100, "127.0.0.1"}, {100, "192.168.1.1"}, {100, "169.254.3.4", kTimeWait},
         {100, "5.5.5.5", kCloseWait}}},
       "appid=-3&ip=127.0.0.1;192.168.1.1;169.254.3.4;5.5.5.5;&", 4},
      {"Game.EXE is not game.exe; other processes and pid 0 play no part",
       {{{"game.exe", 7}}, {{100, "Game.EXE"}, {300, "browser.exe"}},
        {{100, "10.1.2.3"}, {300, "8.8.8.8"}, {0, "9.9.9.9"}}},
       "", 0},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReportPlan plan = c.m.Pass();
    EXPECT_EQ(c.query, plan.query);
    EXPECT_EQ(c.count, plan.addresses.size());
    EXPECT_EQ(c.count, plan.notices.size());
  }
}

TEST(ReportPlan, AddressesCountOnlyOnceTheServiceTookThem) {
  Machine m{{{"game.exe", 7}}, {{100, "game.exe"}}, {{100, "10.1.2.3"}, {100, "10.1.2.4"}}};
  // A failed request marks nothing: the next pass carries the same report.
  ReportPlan failed = m.Pass();
  ReportPlan again = m.Pass();
  EXPECT_EQ(failed.query, again.query);
  EXPECT_TRUE(m.table["game.exe"].reported.empty());

  EXPECT_EQ(2u, MarkReported(again));
  EXPECT_EQ((std::set<std::string>{"10.1.2.3", "10.1.2.4"}), m.table["game.exe"].reported);
  EXPECT_TRUE(m.Pass().addresses.empty());  // only old addresses: nothing to send
  m.table["game.exe"].name = "龙城传说";
  m.conns.push_back({100, "10.1.2.5"});
  ReportPlan next = m.Pass();
  EXPECT_EQ("appid=7&ip=10.1.2.5;&", next.query);
  ASSERT_EQ(1u, next.notices.size());
  EXPECT_EQ(std::string("监测到游戏：龙城传说 的IP：10.1.2.5\r\n"), next.notices[0]);

  // Refused three times: done with for the run, like a taken one.
  for (uint32_t i = 1; i <= kMaxReportTries; ++i) EXPECT_EQ(i == 3 ? 1u : 0u, MarkFailed(m.Pass()));
  EXPECT_TRUE(m.Pass().addresses.empty());
  EXPECT_TRUE(m.table["game.exe"].failedReports.empty());

  // What does not fit the query waits, in order, for the next pass; 29 bytes hold one.
  m.conns = {{100, "10.1.3.1"}, {100, "10.1.3.2"}};
  m.processes.push_back({101, "game.exe"});
  EXPECT_EQ("appid=7&ip=10.1.3.1;&", m.Pass(nullptr, 29).query);
  EXPECT_EQ(1u, MarkReported(m.Pass(nullptr, 29)));
  EXPECT_EQ("appid=7&ip=10.1.3.2;&appid=7&ip=&", m.Pass(nullptr, 33).query);
  EXPECT_EQ("appid=7&ip=10.1.3.2;&", m.Pass(nullptr, 32).query);
}

TEST(ReportPlan, AtMostTwoHundredProcessRecords) {
  for (size_t gameAt : {199u, 200u}) {
    Machine m{{{"game.exe", 7}}, {}, {{static_cast<uint32_t>(1000 - gameAt), "10.1.2.3"}}};
    for (size_t i = 0; i < 250; ++i)
      m.processes.emplace_back(static_cast<uint32_t>(1000 - i), i == gameAt ? "game.exe" : "x.exe");
    EXPECT_EQ(gameAt < 200 ? 1u : 0u, m.Pass().addresses.size()) << "record " << gameAt + 1;
  }
}

// The publisher's word as the successive checks see it (the last one stays).
class ScriptedShared : public ISharedAddress {
 public:
  explicit ScriptedShared(std::deque<uint32_t> words) : m_words(std::move(words)) {}
  bool Read(uint32_t* addr) override {
    uint32_t word = m_words.front();
    if (m_words.size() > 1) m_words.pop_front();
    ++checks;
    *addr = word;
    return word != 0;
  }
  int checks = 0;

 private:
  std::deque<uint32_t> m_words;
};

TEST(ReportPlan, SharedLocalAddressFilter) {
  const uint32_t lan = A("192.168.0.10"), tunnel = A("172.16.0.2");
  struct Case {
    const char* what;
    std::deque<uint32_t> words;
    const char* query;
  } cases[] = {
      {"none published: every connection counts", {0}, "appid=7&ip=1.1.1.1;2.2.2.2;3.3.3.3;&"},
      {"only connections from the published address", {tunnel}, "appid=7&ip=2.2.2.2;&"},
      {"the publisher changes the word between checks", {lan, tunnel, tunnel}, "appid=7&ip=1.1.1.1;2.2.2.2;&"},
      {"the word goes back to zero", {tunnel, tunnel, 0}, "appid=7&ip=2.2.2.2;3.3.3.3;&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine m{{{"game.exe", 7}}, {{100, "game.exe"}},
              {{100, "1.1.1.1"}, {100, "2.2.2.2", kEstablished, 443, "172.16.0.2"}, {100, "3.3.3.3"}}};
    ScriptedShared shared(c.words);
    EXPECT_EQ(c.query, m.Pass(&shared).query);
    EXPECT_EQ(3, shared.checks);  // one check per connection examined
  }
}

TEST(Notice, TextsAreCopiedWholeOrCutOnCharacterBoundariesKeepingTheirLineEnd) {
  std::string longName, longUrl = "http://h/report_ip.php?appid=7&ip=";
  for (int i = 0; i < 200; ++i) longName += "龙";
  for (int i = 0; i < 40; ++i) longUrl += "10.100.200." + std::to_string(i) + ";";
  EXPECT_EQ(std::string("URL= http://h/r?a=1& \r\n"), UrlNotice("http://h/r?a=1&"));
  struct Case {
    const char* what;
    std::string text;
    size_t kept;  // bytes before the line end
  } cases[] = {
      {"an address notice", DetectedNotice("龙城传说", "10.1.2.3"), 35},
      {"299 bytes fit with the terminator", std::string(297, 'a') + "\r\n", 297},
      {"300 bytes do not", std::string(298, 'b') + "\r\n", 297},
      {"long game name: the pair that would straddle the room is left out", DetectedNotice(longName, "10.1.2.3"), 296},
      {"one byte before the pairs: the room used to the last byte", "a" + DetectedNotice(longName, "1.1.1.1"), 297},
      {"long report URL", UrlNotice(longUrl), 297},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    char buf[kNoticeBufferSize + 1];
    buf[kNoticeBufferSize] = 'X';
    ASSERT_EQ(c.kept + 2, CopyNotice(c.text, buf, kNoticeBufferSize));
    EXPECT_EQ(c.text.substr(0, c.kept) + "\r\n", std::string(buf));
    EXPECT_EQ('X', buf[kNoticeBufferSize]);
  }
}

TEST(Schedule, PassTicks) {
  struct Case {
    std::set<uint32_t> reporting;  // ticks whose pass reports
    std::vector<uint32_t> passes;  // ticks with a pass, up to tick 46
  } cases[] = {
      {{}, {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45}},
      {{6}, {0, 3, 6, 15, 30, 45}},
      {{0}, {0, 15, 30, 45}},
      {{3, 30}, {0, 3, 15, 30, 45}},
  };
  for (const Case& c : cases) {
    CollectorSchedule schedule;
    std::vector<uint32_t> passes;
    for (int i = 0; i <= 46; ++i, schedule.Tick()) {
      if (!schedule.PassDue()) continue;
      passes.push_back(schedule.TickCount());
      schedule.PassDone(c.reporting.count(schedule.TickCount()) ? 1 : 0);
    }
    EXPECT_EQ(c.passes, passes);
  }
}

}  // namespace
