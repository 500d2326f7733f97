// The stand-in's parts that need no network: modes, command line, record lines, data rules
// and the stand-in page.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "fault_table.h"
#include "http_front.h"
#include "login_front.h"
#include "netsim_rules.h"
#include "request_recorder.h"
#include "sample_data.h"
#include "stub_options.h"

namespace stub {
namespace {

TEST(FaultMode, MalformedModesAreRefused) {
  for (const char* text : {"", "403", "Normal", "slow", "slow:", "slow:-1", "slow:1e3", "slow: 5",
                           "slow:600001", "slow:99999999999", "drop "}) {
    FaultMode mode;
    EXPECT_FALSE(ParseFaultMode(text, &mode)) << text;
  }
}

TEST(FaultMode, RulesNeedAnAbsolutePathOrStar) {
  std::string path;
  FaultMode mode;
  ASSERT_TRUE(ParseFaultRule("/route.php=slow:20", &path, &mode));
  EXPECT_EQ(path, "/route.php");
  EXPECT_EQ(mode.delay_ms, 20);
  ASSERT_TRUE(ParseFaultRule("*=drop", &path, &mode));
  EXPECT_EQ(path, "*");
  EXPECT_EQ(mode.kind, FaultKind::kDrop);
  for (const char* text : {"route.php=500", "=500", "/route.php", "/route.php=", "**=500"}) {
    EXPECT_FALSE(ParseFaultRule(text, &path, &mode)) << text;
  }
}

TEST(FaultTable, StopCutsADelayShort) {
  FaultTable table;
  auto start = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    table.Stop();
  });
  EXPECT_FALSE(table.Delay(30000));
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(table.Delay(10));  // stays stopped
}

TEST(StubOptions, EveryOptionInBothForms) {
  StubOptions o;
  std::string error;
  ASSERT_TRUE(ParseStubOptions({"--data", "/d", "--list-port=0", "--web-port", "18080", "--record=/r.jsonl",
                                "--pidfile", "/p", "--fault", "/route.php=cut", "--fault=*=404", "--help"},
                               "/shipped", &o, &error))
      << error;
  EXPECT_EQ(o.data_dir, "/d");
  EXPECT_EQ(o.list_port, 0);
  EXPECT_EQ(o.web_port, 18080);
  EXPECT_EQ(o.record_path, "/r.jsonl");
  EXPECT_EQ(o.pid_path, "/p");
  ASSERT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.faults[0].first, "/route.php");
  EXPECT_EQ(o.faults[0].second.kind, FaultKind::kCut);
  EXPECT_EQ(o.faults[1].first, "*");
  EXPECT_TRUE(o.help);
}

TEST(StubOptions, WrongCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},        {"--data"},           {"--data="},          {"--list-port", "65536"},
      {"--web-port=-1"},  {"--web-port", "8x"}, {"--fault", "/x=9"},  {"--list-port=81", "--web-port=81"},
      {"stray"}};
  for (const auto& args : bad) {
    StubOptions o;
    std::string error;
    EXPECT_FALSE(ParseStubOptions(args, "/d", &o, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(RecordLine, BytesMapOntoTheFirst256CodePoints) {
  // GBK "\xcd\xe6" stays two escaped bytes; quotes, backslash and controls are escaped.
  EXPECT_EQ(JsonBytes(std::string("a\"b\\c\r\n\t\x01\x7f\xcd\xe6", 12)),
            "\"a\\\"b\\\\c\\r\\n\\t\\u0001\\u007f\\u00cd\\u00e6\"");
  EXPECT_EQ(JsonBytes(std::string("\0", 1)), "\"\\u0000\"");
}

TEST(RecordLine, HoldsEveryFieldInOrder) {
  RequestRecord r;
  r.port = 8080;
  r.role = "lists";
  r.method = "POST";
  r.target = "/send_report.php?x=1";
  r.path = "/send_report.php";
  r.query = "x=1";
  r.headers = {{"Cookie", "uid=a"}, {"Cookie", "app=3"}};
  r.body = "ab";
  r.status = 200;
  r.mode = "normal";
  EXPECT_EQ(FormatRecordLine(r, 7, FormatRecordTime(1767322805006)),
            "{\"seq\":7,\"time\":\"2026-01-02T03:00:05.006Z\",\"port\":8080,\"role\":\"lists\","
            "\"method\":\"POST\",\"target\":\"/send_report.php?x=1\",\"path\":\"/send_report.php\","
            "\"query\":\"x=1\",\"headers\":[[\"Cookie\",\"uid=a\"],[\"Cookie\",\"app=3\"]],"
            "\"body_size\":2,\"body\":\"ab\",\"status\":200,\"mode\":\"normal\"}");
  r.body.assign(kMaxRecordedBody + 1, 'x');
  std::string line = FormatRecordLine(r, 8, "t");
  EXPECT_NE(line.find("\"body_size\":262145,\"status\""), std::string::npos);
}

TEST(SampleRules, RouteFilesAreNamedOnlyForDecimalGameIds) {
  std::string name;
  ASSERT_TRUE(RouteFileName("3", &name));
  EXPECT_EQ(name, "route_3.xml");
  ASSERT_TRUE(RouteFileName("-1", &name));
  EXPECT_EQ(name, "route_-1.xml");
  ASSERT_TRUE(RouteFileName("007", &name));
  EXPECT_EQ(name, "route_7.xml");
  for (const char* bad : {"", "-", "3a", " 3", "../3", "2147483648", "99999999999", "1/../../x"}) {
    EXPECT_FALSE(RouteFileName(bad, &name)) << bad;
  }
}

TEST(SampleRules, AccountsSkipCommentsAndBrokenLines) {
  std::vector<Account> accounts = ParseAccounts(
      "# comment\r\n\n"
      "test01 pass01 C0DE0001 99 1924992000\r\n"
      "short line only\n"
      "badkind p c x 1\n"
      "badexpiry p c 1 -5\n"
      "\t\xcd\xe6\xbc\xd2\xbc\xd7  mima  C4  1\t4294967295");
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].user, "test01");
  EXPECT_EQ(accounts[0].password, "pass01");
  EXPECT_EQ(accounts[0].login_code, "C0DE0001");
  EXPECT_EQ(accounts[0].kind, 99);
  EXPECT_EQ(accounts[0].expiry, 1924992000u);
  EXPECT_EQ(accounts[1].user, "\xcd\xe6\xbc\xd2\xbc\xd7");
  EXPECT_EQ(accounts[1].expiry, 4294967295u);

  EXPECT_EQ(FindAccountByCode(accounts, "test01", "C0DE0001"), &accounts[0]);
  EXPECT_EQ(FindAccountByCode(accounts, "test01", "pass01"), nullptr);  // the password is not the code
  EXPECT_EQ(FindAccountByCode(accounts, "TEST01", "C0DE0001"), nullptr);
}

TEST(ServicePage, NamesPathQueryAndEachCookieEscaped) {
  std::string html = ServicePageHtml("/error.php", "username=a&errno=999",
                                     {"uid=<b>; app=3", " x=1 ;; "});
  EXPECT_NE(html.find("<title>/error.php</title>"), std::string::npos);
  EXPECT_NE(html.find("<h1>/error.php</h1>"), std::string::npos);
  EXPECT_NE(html.find("<p>query: username=a&amp;errno=999</p>"), std::string::npos);
  EXPECT_NE(html.find("<li>uid=&lt;b&gt;</li>\n<li>app=3</li>\n<li>x=1</li>\n</ul>"), std::string::npos);
  EXPECT_NE(ServicePageHtml("/", "", {}).find("<p>no cookies</p>"), std::string::npos);
  EXPECT_TRUE(IsServicePagePath("/"));
  EXPECT_TRUE(IsServicePagePath("/choice_guide.html"));
  EXPECT_TRUE(IsServicePagePath("/mini.php"));
  EXPECT_FALSE(IsServicePagePath("/accelclient.rar"));
  EXPECT_FALSE(IsServicePagePath("/php"));
}

std::string SampleLoginRequest() {
  // host id "AB", user "u1", password "p", line host "" (the empty string is a length alone)
  return std::string("\x03\x01\x01" "\x07\x00\x00\x00" "\x00\x00\x00\x00" "\x00\x00\x00\x00"
                     "\x00\x02" "AB" "\x00\x02" "u1" "\x00\x01" "p" "\x00\x00",
                     15 + 4 + 4 + 3 + 2);
}

TEST(LoginRequest, ReadsNumbersLittleEndianAndLengthsBigEndian) {
  LoginRequest q;
  std::string error;
  ASSERT_TRUE(ParseLoginRequest(SampleLoginRequest(), &q, &error)) << error;
  EXPECT_EQ(q.command, 1);
  EXPECT_EQ(q.request_number, 7u);
  EXPECT_EQ(q.host_id, "AB");
  EXPECT_EQ(q.user, "u1");
  EXPECT_EQ(q.password, "p");
  EXPECT_EQ(q.line_host, "");
}

TEST(LoginRequest, EveryCutOrPaddedDatagramIsRefused) {
  std::string good = SampleLoginRequest();
  LoginRequest q;
  std::string error;
  for (size_t len = 0; len < good.size(); ++len) {
    EXPECT_FALSE(ParseLoginRequest(good.substr(0, len), &q, &error)) << len;
  }
  EXPECT_FALSE(ParseLoginRequest(good + '\0', &q, &error));
  std::string long_length = good;
  long_length[15] = '\xff';  // 0xFF02 bytes of host id: far past the end
  EXPECT_FALSE(ParseLoginRequest(long_length, &q, &error));
  for (size_t at : {0u, 1u, 2u}) {
    std::string bad = good;
    bad[at] = 0x05;
    EXPECT_FALSE(ParseLoginRequest(bad, &q, &error)) << at;
  }
}

TEST(LoginRequest, LoginIsAFaultNameOfItsOwn) {
  std::string path;
  FaultMode mode;
  ASSERT_TRUE(ParseFaultRule("login=slow:50", &path, &mode));
  EXPECT_EQ(path, "login");
  EXPECT_FALSE(ParseFaultRule("logins=drop", &path, &mode));
}


std::multimap<std::string, std::string> Query(const std::string& text) {
  std::multimap<std::string, std::string> q;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('&', pos);
    if (end == std::string::npos) end = text.size();
    std::string pair = text.substr(pos, end - pos);
    size_t eq = pair.find('=');
    q.emplace(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
    pos = end + 1;
  }
  return q;
}

TEST(ForwardEntry, RowsAreJudgedAsWindowsJudgesThem) {
  // Interface 3 is a tunnel carrying 10.8.0.2; no other interface exists.
  auto interfaces = [](int ifindex, std::vector<uint32_t>* addresses) {
    if (ifindex != 3) return false;
    *addresses = {0x0A080002};
    return true;
  };
  RoutePlan via = PlanForwardEntry(
      Query("dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=20"), interfaces);
  EXPECT_EQ(via.code, kWinOk);
  EXPECT_EQ(via.dest, 0xC0000200u);
  EXPECT_EQ(via.prefix_len, 24);
  EXPECT_EQ(via.gateway, 0x0A080001u);
  EXPECT_EQ(via.ifindex, 3);
  RoutePlan on_link = PlanForwardEntry(
      Query("dest=0.0.0.0&mask=0.0.0.0&nexthop=10.8.0.2&ifindex=3&metric=1"), interfaces);
  EXPECT_EQ(on_link.code, kWinOk);
  EXPECT_EQ(on_link.prefix_len, 0);
  EXPECT_EQ(on_link.gateway, 0u);
  for (const char* bad : {"dest=192.0.2.0&mask=255.0.255.0&nexthop=10.8.0.1&ifindex=3&metric=1",
                          "dest=192.0.2.1&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=1",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=4&metric=1",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=0&metric=1",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=-1",
                          "dest=192.0.2&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=1",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.256&ifindex=3&metric=1",
                          "dest=192.0.2.0 &mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=1",
                          "dest=192.0.2.0&dest=192.0.3.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3&metric=1",
                          "dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.1&ifindex=3x&metric=1"}) {
    EXPECT_EQ(PlanForwardEntry(Query(bad), interfaces).code, kWinInvalidParameter) << bad;
  }
  EXPECT_EQ(WindowsCodeForRouteErrno(0), 0);
  EXPECT_EQ(WindowsCodeForRouteErrno(EEXIST), 5010);
  EXPECT_EQ(WindowsCodeForRouteErrno(ENETUNREACH), 2);
  EXPECT_EQ(WindowsCodeForRouteErrno(EINVAL), 2);
  EXPECT_EQ(WindowsCodeForRouteErrno(EPERM), 31);
}

uint16_t Checksum(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  uint32_t sum = 0;
  for (size_t i = from; i + 1 < to; i += 2) sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// The UDP echo is checked end to end by the kernel taking it (scenario test); the ICMP one
// and the malformed packets here.
TEST(NetSimPackets, EchoRequestGetsItsReplyAndMalformedPacketsNone) {
  std::vector<uint8_t> ping = {0x45, 0, 0, 32, 0x12, 0x34, 0, 0, 7, 1, 0, 0, 10, 8, 0, 2, 192, 0, 2, 10,
                               8, 0, 0, 0, 0, 7, 0, 1, 'p', 'i', 'n', 'g'};
  uint16_t c = Checksum(ping, 0, 20);
  ping[10] = static_cast<uint8_t>(c >> 8);
  ping[11] = static_cast<uint8_t>(c);
  std::vector<uint8_t> reply;
  ASSERT_TRUE(BuildEchoAnswer(ping.data(), ping.size(), &reply));
  ASSERT_EQ(reply.size(), ping.size());
  EXPECT_EQ(Checksum(reply, 0, 20), 0);
  EXPECT_EQ(Checksum(reply, 20, reply.size()), 0);
  EXPECT_EQ(reply[8], 64);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 12, reply.begin() + 16), std::vector<uint8_t>({192, 0, 2, 10}));
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 16, reply.begin() + 20), std::vector<uint8_t>({10, 8, 0, 2}));
  EXPECT_EQ(reply[20], 0);  // echo reply
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 24, reply.end()), std::vector<uint8_t>(ping.begin() + 24, ping.end()));
  EXPECT_EQ(FormatPacketLine(ReadPacket(ping.data(), ping.size()), 4, "T", "lan0"),
            "{\"seq\":4,\"time\":\"T\",\"if\":\"lan0\",\"src\":\"10.8.0.2\",\"dst\":\"192.0.2.10\","
            "\"proto\":\"icmp\",\"size\":32}");

  // Every cut of it is recorded as far as it can be read, and never answered.
  for (size_t len = 0; len < ping.size(); ++len) {
    PacketInfo info = ReadPacket(ping.data(), len);
    EXPECT_TRUE(info.ipv4 && !info.error.empty()) << len;
    EXPECT_FALSE(BuildEchoAnswer(ping.data(), len, &reply)) << len;
  }
  EXPECT_EQ(FormatPacketLine(ReadPacket(ping.data(), 12), 5, "T", "ppp0"),
            "{\"seq\":5,\"time\":\"T\",\"if\":\"ppp0\",\"proto\":\"icmp\",\"size\":12,"
            "\"error\":\"truncated header\"}");
  std::vector<uint8_t> udp = ping;
  udp[9] = 17;  // a UDP header whose length exceeds the packet
  udp[10] = udp[11] = 0;
  c = Checksum(udp, 0, 20);
  udp[10] = static_cast<uint8_t>(c >> 8);
  udp[11] = static_cast<uint8_t>(c);
  EXPECT_EQ(FormatPacketLine(ReadPacket(udp.data(), udp.size()), 6, "T", "ppp0"),
            "{\"seq\":6,\"time\":\"T\",\"if\":\"ppp0\",\"src\":\"10.8.0.2\",\"dst\":\"192.0.2.10\","
            "\"proto\":\"udp\",\"sport\":2048,\"dport\":0,\"size\":32,\"error\":\"bad udp length\"}");
  EXPECT_FALSE(BuildEchoAnswer(udp.data(), udp.size(), &reply));
  std::vector<uint8_t> v6 = {0x60, 0, 0, 0};
  EXPECT_FALSE(ReadPacket(v6.data(), v6.size()).ipv4);
}

// /_netem: the loss spread evenly over each destination's answers, the delay of the rest,
// other destinations untouched, a rule of zeros removed, a bad query refused.
TEST(NetSimPackets, AnswerShapingDropsEvenlyAndDelaysPerDestination) {
  AnswerShaping shaping;
  std::string error;
  ASSERT_TRUE(shaping.Set({{"dst", "198.18.8.11"}, {"delay_ms", "300"}, {"loss_pct", "25"}}, &error));
  const uint32_t line = 0xC612080B, other = 0xC612080C;
  std::string pattern;
  uint32_t delay = 0;
  for (int i = 0; i < 8; ++i) {
    bool pass = shaping.Pass(line, &delay);
    pattern += pass ? 'a' : '-';
    if (pass) EXPECT_EQ(delay, 300u);
    EXPECT_TRUE(shaping.Pass(other, &delay));
    EXPECT_EQ(delay, 0u);
  }
  EXPECT_EQ(pattern, "aaa-aaa-");
  ASSERT_TRUE(shaping.Set({{"dst", "198.18.8.11"}, {"loss_pct", "100"}}, &error));
  EXPECT_FALSE(shaping.Pass(line, &delay));
  ASSERT_TRUE(shaping.Set({{"dst", "198.18.8.11"}, {"delay_ms", "0"}}, &error));
  EXPECT_TRUE(shaping.Pass(line, &delay));
  EXPECT_EQ(delay, 0u);
  EXPECT_FALSE(shaping.Set({{"delay_ms", "5"}}, &error));
  EXPECT_FALSE(shaping.Set({{"dst", "198.18.8.11"}, {"loss_pct", "101"}}, &error));
  EXPECT_FALSE(shaping.Set({{"dst", "198.18.8.11"}, {"delay_ms", "-1"}}, &error));
  EXPECT_FALSE(shaping.Set({{"dst", "198.18.8"}, {"delay_ms", "1"}}, &error));
}

}  // namespace
}  // namespace stub
