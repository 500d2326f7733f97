// One pass of the collector, from the system's tables to the report, and its timing.
#include "collector/scan_pass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <set>

namespace {

uint32_t Addr(unsigned a, unsigned b, unsigned c, unsigned d) {
  unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                            static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

// A port as the table's field holds it: network order in the low 16 bits.
uint32_t PortField(unsigned port) {
  unsigned char bytes[4] = {static_cast<unsigned char>(port >> 8),
                            static_cast<unsigned char>(port & 0xFF), 0, 0};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

const uint32_t kEstablished = 5, kCloseWait = 8, kTimeWait = 11;
const uint32_t kLocal = Addr(192, 168, 0, 10);

TcpRow Row(uint32_t pid, uint32_t remote, unsigned remotePort = 443,
           uint32_t state = kEstablished, uint32_t local = kLocal) {
  return TcpRow{state, local, PortField(50000), remote, PortField(remotePort), pid};
}

struct Machine {
  std::vector<TcpRow> rows;
  std::vector<ProcessRecord> processes;
  GameTable games;

  void Game(const char* exe, int32_t id, const char* name = "游戏") {
    GameEntry& g = games[exe];
    g.app_id = id;
    g.exefile = exe;
    g.name = name;
  }
  void Process(uint32_t pid, const char* exe) {
    ProcessRecord r;
    r.pid = pid;
    r.exeFile = exe;
    processes.push_back(r);
  }
  ReportPlan Pass(ISharedAddress* shared = nullptr) {
    ConnectionTable connections;
    ProcessTable table;
    FillConnectionTable(rows.data(), rows.size(), &connections);
    FillProcessTable(processes, &table);
    return PlanReport(connections, table, games, shared);
  }
};

TEST(ConnectionTable, RowsByProcessWithoutListeningOnes) {
  std::vector<TcpRow> rows = {Row(7, Addr(10, 0, 0, 1), 8080), Row(9, Addr(10, 0, 0, 2)),
                              Row(7, 0, 0, kTcpStateListen), Row(7, Addr(127, 0, 0, 1), 80)};
  ConnectionTable table;
  table[99].push_back(ConnectionEntry());  // a leftover of an earlier pass
  FillConnectionTable(rows.data(), rows.size(), &table);
  ASSERT_EQ(2u, table.size());
  ASSERT_EQ(2u, table[7].size());
  EXPECT_EQ(8080, table[7][0].remotePort);
  EXPECT_EQ(50000, table[7][0].localPort);
  EXPECT_EQ("10.0.0.1", DottedQuad(table[7][0].remoteAddr));
  EXPECT_EQ("192.168.0.10", DottedQuad(table[7][0].localAddr));
  EXPECT_EQ("127.0.0.1", DottedQuad(table[7][1].remoteAddr));
  EXPECT_EQ("255.255.255.255", DottedQuad(Addr(255, 255, 255, 255)));
  EXPECT_EQ("0.0.0.0", DottedQuad(0));
}

// Each case: the games, the processes of the snapshot, the connections, the query.
TEST(ReportPlan, Queries) {
  struct Case {
    const char* what;
    std::function<void(Machine&)> setup;
    const char* query;
    size_t count;
  } cases[] = {
      {"one game, two new addresses",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.rows = {Row(100, Addr(10, 1, 2, 3)), Row(100, Addr(10, 1, 2, 4))};
       },
       "appid=7&ip=10.1.2.3;10.1.2.4;&", 2},
      {"a second game that contributes nothing keeps its empty block",
       [](Machine& m) {
         m.Game("a.exe", 7);
         m.Game("b.exe", 9);
         m.Process(200, "b.exe");
         m.Process(100, "a.exe");
         m.rows = {Row(100, Addr(10, 1, 2, 3)), Row(200, 0, 0, kTcpStateListen)};
       },
       "appid=7&ip=10.1.2.3;&appid=9&ip=&", 1},
      {"a game with only listening sockets",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.rows = {Row(100, 0, 0, kTcpStateListen), Row(100, 0, 0, kTcpStateListen)};
       },
       "appid=7&ip=&", 0},
      {"two processes of one game: one block each, no address twice",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(101, "game.exe");
         m.Process(100, "game.exe");
         m.rows = {Row(101, Addr(10, 0, 0, 1)), Row(101, Addr(10, 0, 0, 2)),
                   Row(100, Addr(10, 0, 0, 1))};
       },
       "appid=7&ip=10.0.0.1;&appid=7&ip=10.0.0.2;&", 2},
      {"two connections to one address, different ports",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.rows = {Row(100, Addr(1, 2, 3, 4), 7000), Row(100, Addr(1, 2, 3, 4), 7001)};
       },
       "appid=7&ip=1.2.3.4;&", 1},
      {"one address used by two games is reported for each",
       [](Machine& m) {
         m.Game("a.exe", 1);
         m.Game("b.exe", 2);
         m.Process(100, "a.exe");
         m.Process(200, "b.exe");
         m.rows = {Row(100, Addr(1, 2, 3, 4)), Row(200, Addr(1, 2, 3, 4))};
       },
       "appid=1&ip=1.2.3.4;&appid=2&ip=1.2.3.4;&", 2},
      {"loopback, private and link-local addresses alike",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.rows = {Row(100, Addr(127, 0, 0, 1)), Row(100, Addr(192, 168, 1, 1)),
                   Row(100, Addr(169, 254, 3, 4))};
       },
       "appid=7&ip=127.0.0.1;192.168.1.1;169.254.3.4;&", 3},
      {"TIME_WAIT and CLOSE_WAIT rows count like established ones",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.rows = {Row(100, Addr(5, 5, 5, 5), 1, kTimeWait), Row(100, Addr(6, 6, 6, 6), 1, kCloseWait)};
       },
       "appid=7&ip=5.5.5.5;6.6.6.6;&", 2},
      {"Game.EXE is not game.exe",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "Game.EXE");
         m.rows = {Row(100, Addr(10, 1, 2, 3))};
       },
       "", 0},
      {"connections of other processes and of pid 0 play no part",
       [](Machine& m) {
         m.Game("game.exe", 7);
         m.Process(100, "game.exe");
         m.Process(300, "browser.exe");
         m.rows = {Row(0, Addr(9, 9, 9, 9)), Row(300, Addr(8, 8, 8, 8)), Row(100, Addr(7, 7, 7, 7))};
       },
       "appid=7&ip=7.7.7.7;&", 1},
      {"the game's negative number as the list gave it",
       [](Machine& m) {
         m.Game("game.exe", -3);
         m.Process(100, "game.exe");
         m.rows = {Row(100, Addr(10, 1, 2, 3))};
       },
       "appid=-3&ip=10.1.2.3;&", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine m;
    c.setup(m);
    ReportPlan plan = m.Pass();
    EXPECT_EQ(c.query, plan.query);
    EXPECT_EQ(c.count, plan.addresses.size());
    EXPECT_EQ(c.count, plan.notices.size());
  }
}

TEST(ReportPlan, AddressesCountOnlyOnceTheServiceTookThem) {
  Machine m;
  m.Game("game.exe", 7, "龙城传说");
  m.Process(100, "game.exe");
  m.rows = {Row(100, Addr(10, 1, 2, 3)), Row(100, Addr(10, 1, 2, 4))};

  // A failed request: nothing is marked, the next pass carries the same report.
  ReportPlan failed = m.Pass();
  ReportPlan again = m.Pass();
  EXPECT_EQ(failed.query, again.query);
  EXPECT_TRUE(m.games["game.exe"].reported.empty());

  EXPECT_EQ(2u, MarkReported(again));
  EXPECT_EQ((std::set<std::string>{"10.1.2.3", "10.1.2.4"}), m.games["game.exe"].reported);
  // Only old addresses: nothing to send.
  EXPECT_TRUE(m.Pass().addresses.empty());
  // One new beside the old: only the new one.
  m.rows.push_back(Row(100, Addr(10, 1, 2, 5)));
  ReportPlan next = m.Pass();
  EXPECT_EQ("appid=7&ip=10.1.2.5;&", next.query);
  ASSERT_EQ(1u, next.notices.size());
  EXPECT_EQ(std::string("监测到游戏：龙城传说 的IP：10.1.2.5\r\n"), next.notices[0]);
}

TEST(ReportPlan, AtMostTwoHundredProcessRecords) {
  for (size_t gameAt : {199u, 200u}) {
    Machine m;
    m.Game("game.exe", 7);
    for (size_t i = 0; i < 250; ++i) m.Process(static_cast<uint32_t>(1000 - i), i == gameAt ? "game.exe" : "other.exe");
    m.rows = {Row(static_cast<uint32_t>(1000 - gameAt), Addr(10, 1, 2, 3))};
    EXPECT_EQ(gameAt < 200 ? 1u : 0u, m.Pass().addresses.size()) << "record " << gameAt + 1;
  }
}

// The publisher's word as the successive checks see it.
class ScriptedShared : public ISharedAddress {
 public:
  explicit ScriptedShared(std::deque<uint32_t> words) : m_words(std::move(words)) {}
  bool Read(uint32_t* addr) override {
    uint32_t word = m_words.empty() ? 0 : m_words.front();
    if (m_words.size() > 1) m_words.pop_front();
    ++checks;
    if (!word) return false;
    *addr = word;
    return true;
  }
  int checks = 0;

 private:
  std::deque<uint32_t> m_words;
};

TEST(ReportPlan, SharedLocalAddressFilter) {
  const uint32_t lanA = Addr(192, 168, 0, 10), tunnel = Addr(172, 16, 0, 2);
  struct Case {
    const char* what;
    std::deque<uint32_t> words;
    const char* query;
  } cases[] = {
      {"none published: every connection counts", {0}, "appid=7&ip=1.1.1.1;2.2.2.2;3.3.3.3;&"},
      {"only connections from the published address", {tunnel}, "appid=7&ip=2.2.2.2;&"},
      {"the publisher changes the word between checks", {lanA, tunnel, tunnel},
       "appid=7&ip=1.1.1.1;2.2.2.2;&"},
      {"the word goes back to zero", {tunnel, tunnel, 0}, "appid=7&ip=2.2.2.2;3.3.3.3;&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine m;
    m.Game("game.exe", 7);
    m.Process(100, "game.exe");
    m.rows = {Row(100, Addr(1, 1, 1, 1), 1, kEstablished, lanA),
              Row(100, Addr(2, 2, 2, 2), 1, kEstablished, tunnel),
              Row(100, Addr(3, 3, 3, 3), 1, kEstablished, lanA)};
    ScriptedShared shared(c.words);
    EXPECT_EQ(c.query, m.Pass(&shared).query);
    EXPECT_EQ(3, shared.checks);  // one check per connection examined
  }
}

TEST(Notice, TextsThatFitAreCopiedWhole) {
  char buf[kNoticeBufferSize];
  std::string detected = DetectedNotice("龙城传说", "10.1.2.3");
  EXPECT_EQ(std::string("监测到游戏：龙城传说 的IP：10.1.2.3\r\n"), detected);
  EXPECT_EQ(detected.size(), CopyNotice(detected, buf, sizeof buf));
  EXPECT_EQ(detected, buf);
  EXPECT_EQ(std::string("URL= http://h/report_ip.php?appid=7&ip=1.2.3.4;& \r\n"),
            UrlNotice("http://h/report_ip.php?appid=7&ip=1.2.3.4;&"));
  std::string edge(kNoticeBufferSize - 1, 'a');  // 299 bytes and the terminator
  EXPECT_EQ(299u, CopyNotice(edge, buf, sizeof buf));
  EXPECT_EQ(edge, buf);
}

TEST(Notice, LongTextsAreCutOnCharacterBoundariesAndKeepTheirLineEnd) {
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "龙";
  std::string longUrl = "http://h/report_ip.php?appid=7&ip=";
  for (int i = 0; i < 40; ++i) longUrl += "10.100.200." + std::to_string(i) + ";";
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"long game name", DetectedNotice(longName, "10.1.2.3")},
      {"one byte more than room, ASCII before a double-byte run", "a" + DetectedNotice(longName, "1.1.1.1")},
      {"long report URL", UrlNotice(longUrl)},
      {"300 bytes exactly", std::string(298, 'b') + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.text.size(), kNoticeBufferSize);
    char buf[kNoticeBufferSize + 8];
    std::memset(buf, 'X', sizeof buf);
    size_t n = CopyNotice(c.text, buf, kNoticeBufferSize);
    ASSERT_LE(n, kNoticeBufferSize - 1);
    EXPECT_GE(n, kNoticeBufferSize - 2);  // at most the one byte a double-byte pair needs
    EXPECT_EQ('\0', buf[n]);
    EXPECT_EQ('X', buf[kNoticeBufferSize]);
    std::string got(buf, n);
    EXPECT_EQ("\r\n", got.substr(n - 2));
    EXPECT_EQ(c.text.substr(0, n - 2), got.substr(0, n - 2));
    // Walking the kept part as GBK never ends inside a pair.
    size_t i = 0;
    while (i < n - 2) i += static_cast<unsigned char>(got[i]) >= 0x81 ? 2 : 1;
    EXPECT_EQ(n - 2, i);
  }
}

TEST(Schedule, PassTicks) {
  struct Case {
    const char* what;
    std::set<uint32_t> reportingPasses;  // ticks whose pass reports
    std::vector<uint32_t> passes;        // ticks with a pass, up to tick 46
  } cases[] = {
      {"nothing found: every 3 ticks", {},
       {0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45}},
      {"a report at tick 6: then every 15", {6}, {0, 3, 6, 15, 30, 45}},
      {"a report in the first pass", {0}, {0, 15, 30, 45}},
      {"15 stays after quiet passes", {3, 30}, {0, 3, 15, 30, 45}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CollectorSchedule schedule;
    std::vector<uint32_t> passes;
    for (int i = 0; i <= 46; ++i) {
      if (schedule.PassDue()) {
        passes.push_back(schedule.TickCount());
        schedule.PassDone(c.reportingPasses.count(schedule.TickCount()) ? 1 : 0);
      }
      schedule.Tick();
    }
    EXPECT_EQ(c.passes, passes);
  }
}

}  // namespace
