#include "client/accel/route_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/xml_doc.h"

namespace {

// Network byte order of a.b.c.d, independent of the host's order.
uint32_t Addr(unsigned a, unsigned b, unsigned c, unsigned d) {
  unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                            static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

RouteRow Row(uint32_t dest, uint32_t mask, uint32_t hop, uint32_t ifIndex, uint32_t metric) {
  RouteRow r;
  std::memset(&r, 0, sizeof r);
  r.dest = dest;
  r.mask = mask;
  r.nextHop = hop;
  r.ifIndex = ifIndex;
  r.metric1 = metric;
  return r;
}

IfTypeReader Types(std::map<uint32_t, uint32_t> types) {
  return [types](uint32_t index, uint32_t* type) {
    auto it = types.find(index);
    if (it == types.end()) return false;
    *type = it->second;
    return true;
  };
}

const char kMultiple[] = "发现多个默认路由，上个接口类型：";

TEST(DefaultRoute, LanThenPppTakesThePppRouteWithOneMultipleLine) {
  std::vector<RouteRow> rows = {Row(Addr(10, 0, 0, 0), Addr(255, 0, 0, 0), Addr(10, 0, 0, 1), 2, 1),
                                Row(0, 0, Addr(192, 168, 1, 1), 2, 20),
                                Row(0, 0, Addr(172, 16, 0, 9), 7, 1)};
  DefaultRouteChoice c = ChooseDefaultRoute(rows, Types({{2, 6}, {7, 23}}));
  EXPECT_EQ(c.index, 2);
  EXPECT_EQ(c.ifType, 23u);
  ASSERT_EQ(c.log.size(), 3u);
  EXPECT_EQ(c.log[0], "取得原默认网关：192.168.1.1, Metrics: 20\r\n");
  EXPECT_EQ(c.log[1], std::string(kMultiple) + "6, 这个是: 23\r\n");
  EXPECT_EQ(c.log[2], "取得原默认网关：172.16.0.9, Metrics: 1\r\n");
}

TEST(DefaultRoute, PppFirstStaysAndTheLastPppOfSeveralWins) {
  std::vector<RouteRow> rows = {Row(0, 0, Addr(172, 16, 0, 9), 7, 1),
                                Row(0, 0, Addr(192, 168, 1, 1), 2, 20)};
  DefaultRouteChoice c = ChooseDefaultRoute(rows, Types({{2, 6}, {7, 23}}));
  EXPECT_EQ(c.index, 0);
  ASSERT_EQ(c.log.size(), 2u);
  EXPECT_EQ(c.log[1], std::string(kMultiple) + "23, 这个是: 6\r\n");

  rows.push_back(Row(0, 0, Addr(172, 16, 5, 5), 8, 3));
  c = ChooseDefaultRoute(rows, Types({{2, 6}, {7, 23}, {8, 23}}));
  EXPECT_EQ(c.index, 2);
}

TEST(DefaultRoute, UnreadableInterfacesAreSkippedAndNoneGivesTheNoGatewayLine) {
  std::vector<RouteRow> rows = {Row(0, 0, Addr(192, 168, 1, 1), 99, 1),
                                Row(0, 0, Addr(192, 168, 2, 1), 3, 5),
                                // a mask of 0 alone is not a default route
                                Row(Addr(1, 0, 0, 0), 0, Addr(192, 168, 3, 1), 3, 5)};
  DefaultRouteChoice c = ChooseDefaultRoute(rows, Types({{3, 6}}));
  EXPECT_EQ(c.index, 1);
  ASSERT_EQ(c.log.size(), 1u);

  c = ChooseDefaultRoute(rows, Types({}));
  EXPECT_EQ(c.index, -1);
  ASSERT_EQ(c.log.size(), 1u);
  EXPECT_EQ(c.log[0], "原路由表中无默认网关信息!\r\n");
  EXPECT_EQ(ChooseDefaultRoute({}, Types({})).log, c.log);
}

TEST(RouteRowBuild, HostPartIsClearedAndTheTemplateGivesHopInterfaceAndMetrics) {
  RouteRow t = Row(0, 0, Addr(192, 168, 1, 1), 4, 10);
  t.policy = 9; t.type = 4; t.proto = 2; t.age = 77; t.nextHopAS = 5;
  t.metric2 = 11; t.metric3 = 12; t.metric4 = 13; t.metric5 = 14;
  RouteRow r = BuildRouteRow(t, Addr(10, 1, 2, 3), Addr(255, 255, 255, 0));
  EXPECT_EQ(r.dest, Addr(10, 1, 2, 0));
  EXPECT_EQ(r.mask, Addr(255, 255, 255, 0));
  EXPECT_EQ(r.nextHop, t.nextHop);
  EXPECT_EQ(r.ifIndex, 4u);
  EXPECT_EQ(r.type, 3u);
  EXPECT_EQ(r.proto, 3u);
  EXPECT_EQ(r.policy, 0u);
  EXPECT_EQ(r.age, 0u);
  EXPECT_EQ(r.nextHopAS, 0u);
  EXPECT_EQ(r.metric1, 10u);
  EXPECT_EQ(r.metric2, 11u);
  EXPECT_EQ(r.metric5, 14u);
  // inet_addr's answer for empty or bad text gives an all-ones mask and destination.
  r = BuildRouteRow(t, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(r.dest, 0xFFFFFFFFu);
}

TEST(RouteRowBuild, EntriesThatAreNoDottedAddressesGiveNoRow) {
  RouteRow tmpl = Row(0, 0, Addr(10, 8, 0, 1), 9, 20);
  RouteRow row;
  // A mask that is not contiguous is still an address.
  ASSERT_TRUE(RouteRowFor(tmpl, "10.1.2.3", "255.0.255.0", &row));
  EXPECT_EQ(row.dest, Addr(10, 0, 2, 0));
  EXPECT_EQ(row.mask, Addr(255, 0, 255, 0));
  ASSERT_TRUE(RouteRowFor(tmpl, "0.0.0.0", "255.255.255.255", &row));
  // inet_addr would make all ones or 0.0.0.0/0 (the whole Internet) of each of these.
  for (const char* bad : {"", "1", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4",
                          "0x7f.0.0.1", "010.1.1.1", "1..2.3", "1.2.3.", "a.b.c.d", "1.2.3.4x",
                          "1.2.3.0004"}) {
    EXPECT_FALSE(RouteRowFor(tmpl, bad, "255.255.255.0", &row)) << "[" << bad << "]";
    EXPECT_FALSE(RouteRowFor(tmpl, "10.0.0.0", bad, &row)) << "[" << bad << "]";
  }
  EXPECT_EQ(BadRouteEntryText("a\r\nb", std::string(100, 'm')),
            "路由项不是有效的地址，已跳过：net=\"a??b\" mask=\"" + std::string(40, 'm') + "\"\r\n");
}

TEST(TunnelRoute, TheTunnelAddressMatchesItsRowAndAnUnknownAddressMatchesNoOnLinkRow) {
  // On-link rows (next hop 0.0.0.0) ahead of the tunnel's own row, and a broadcast row.
  std::vector<RouteRow> rows = {Row(Addr(192, 168, 1, 0), Addr(255, 255, 255, 0), 0, 2, 10),
                                Row(Addr(255, 255, 255, 255), Addr(255, 255, 255, 255),
                                    Addr(255, 255, 255, 255), 2, 1),
                                Row(Addr(10, 8, 0, 0), Addr(255, 255, 255, 0), 0, 9, 1),
                                Row(Addr(10, 8, 0, 1), Addr(255, 255, 255, 255),
                                    Addr(10, 8, 0, 2), 9, 1)};
  std::string refusal;
  EXPECT_EQ(FindTunnelRow(rows, "10.8.0.2", &refusal), 3);
  EXPECT_EQ(refusal, "");
  EXPECT_EQ(FindTunnelRow(rows, "10.8.0.3", &refusal), -1);
  EXPECT_EQ(refusal, "");  // a real address without a route: no refusal, just no row
  EXPECT_EQ(FindTunnelRow(rows, "0.0.0.0", &refusal), -1);
  EXPECT_EQ(refusal, "隧道地址无效(0.0.0.0)，不添加加速路由.\r\n");
  EXPECT_EQ(FindTunnelRow(rows, "255.255.255.255", &refusal), -1);
  EXPECT_EQ(refusal, "隧道地址无效(255.255.255.255)，不添加加速路由.\r\n");
  EXPECT_EQ(FindTunnelRow(rows, "", &refusal), -1);
  EXPECT_EQ(refusal, "隧道地址无效()，不添加加速路由.\r\n");
}

TEST(RouteErrors, EachKnownCodeHasItsTextAndOthersShowTheCode) {
  EXPECT_EQ(RouteErrorText(160), "添加路由失败：路由参数不正确(1).\r\n");
  EXPECT_EQ(RouteErrorText(87), "添加路由失败：路由参数不正确(2).\r\n");
  EXPECT_EQ(RouteErrorText(50), "添加路由失败：不支持添加动态路由.\r\n");
  EXPECT_EQ(RouteErrorText(5), "添加路由失败：权限不够，请使用管理员权限运行加速器.\r\n");
  EXPECT_EQ(RouteErrorText(2), "添加路由失败：网关不正确.\r\n");
  EXPECT_EQ(RouteErrorText(5010), "添加路由失败：路由项已经存在.\r\n");
  EXPECT_EQ(RouteErrorText(1), "添加路由失败：其他错误(1).\r\n");
}

std::vector<RouteEntry> Walk(const std::string& xml) {
  CXmlDoc doc;
  doc.SetText(xml);
  return ReadRouteList(doc);
}

TEST(RouteList, RemoteEntriesComeFirstThenDirectOnesAndMissingAttributesAreEmpty) {
  std::vector<RouteEntry> e = Walk(
      "<data><remote><entry net=\"1.2.3.0\" mask=\"255.255.255.0\"/><entry mask=\"255.0.0.0\"/>"
      "</remote><other/><direct><entry net=\"8.8.8.8\" mask=\"255.255.255.255\"/></direct></data>");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].kind, kRouteTunnel);
  EXPECT_EQ(e[0].net, "1.2.3.0");
  EXPECT_EQ(e[0].mask, "255.255.255.0");
  EXPECT_EQ(e[1].net, "");
  EXPECT_EQ(e[1].mask, "255.0.0.0");
  EXPECT_EQ(e[2].kind, kRouteDirect);
  EXPECT_EQ(e[2].net, "8.8.8.8");
}

TEST(RouteList, WithoutRemoteOnlyDirectAndADirectBeforeRemoteIsNotRead) {
  std::vector<RouteEntry> e = Walk("<data><direct><entry net=\"5.0.0.0\" mask=\"255.0.0.0\"/>"
                                   "<entry net=\"6.0.0.0\" mask=\"255.0.0.0\"/></direct></data>");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].kind, kRouteDirect);
  EXPECT_EQ(e[1].net, "6.0.0.0");

  e = Walk("<data><direct><entry net=\"5.0.0.0\" mask=\"255.0.0.0\"/></direct>"
           "<remote><entry net=\"7.0.0.0\" mask=\"255.0.0.0\"/></remote></data>");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].kind, kRouteTunnel);

  EXPECT_TRUE(Walk("<Data><remote><entry net=\"1.0.0.0\"/></remote></Data>").empty());
  EXPECT_TRUE(Walk("not xml").empty());
}

TEST(RouteList, TakeoverLoopbackAndMulticastNetworksAreRefusedAndAListIsCutAt65536) {
  // Refused whether listed for the tunnel or the former gateway, one line each.
  const char* refused[][2] = {
      {"0.0.0.0", "0.0.0.0"},       {"0.0.0.0", "128.0.0.0"},   {"128.0.0.0", "128.0.0.0"},
      {"10.0.0.0", "254.0.0.0"},    {"10.0.0.0", "0.255.255.0"},
      {"127.0.0.1", "254.0.0.0"}, {"0.1.2.0", "255.255.255.0"},
      {"127.0.0.1", "255.255.255.255"}, {"224.0.0.0", "240.0.0.0"}, {"239.1.2.3", "255.255.255.255"},
      {"255.255.255.255", "255.255.255.255"}, {"240.0.0.0", "255.0.0.0"}};
  // What an entry of a list leaves in the run log instead of its route; "" when it is added.
  const RouteRow tmpl = Row(0, 0, Addr(10, 0, 0, 9), 7, 1);
  auto skipped = [&tmpl](const std::string& net, const std::string& mask) {
    RouteRow row;
    std::string why;
    return RouteListRowFor(tmpl, net, mask, &row, &why) ? std::string() : why;
  };
  for (auto& e : refused)
    EXPECT_EQ(skipped(e[0], e[1]),
              std::string("路由项的网络不允许添加，已跳过：net=\"") + e[0] + "\" mask=\"" + e[1] +
                  "\"\r\n");
  // The neighbours are added; texts that are no addresses are named as such.
  for (auto& e : std::vector<std::pair<const char*, const char*>>{
           {"1.0.0.0", "255.0.0.0"}, {"126.255.0.0", "255.255.0.0"}, {"128.0.0.0", "255.0.0.0"},
           {"223.255.255.255", "255.255.255.255"}, {"10.1.2.3", "255.0.255.0"}})
    EXPECT_EQ(skipped(e.first, e.second), "") << e.first << "/" << e.second;
  for (auto& e : std::vector<std::pair<std::string, std::string>>{
           {"", "0.0.0.0"}, {"0.0.0.0", "0.0"}, {"224.0.0.0", "240.0.0.0\n"}, {"\x7f.0.0.0", "255.0.0.0"}})
    EXPECT_EQ(skipped(e.first, e.second), BadRouteEntryText(e.first, e.second)) << e.first;

  // A flood: 65,536 entries are handed on, remote first, and the walk says the rest were left.
  std::string xml = "<data><remote>";
  for (int i = 0; i < 40000; ++i) xml += "<entry net=\"1.0.0.0\" mask=\"255.0.0.0\"/>";
  xml += "</remote><direct>";
  for (int i = 0; i < 30000; ++i) xml += "<entry net=\"2.0.0.0\" mask=\"255.0.0.0\"/>";
  xml += "</direct></data>";
  CXmlDoc doc;
  doc.SetText(xml);
  size_t remote = 0, direct = 0;
  EXPECT_FALSE(WalkRouteList(doc, [&](RouteKind kind, const std::string&, const std::string&) {
    ++(kind == kRouteTunnel ? remote : direct);
  }));
  EXPECT_EQ(remote, 40000u);
  EXPECT_EQ(direct, 65536u - 40000u);
  EXPECT_EQ(RouteListCutText(), "路由列表超过65536项，其余的未添加.\r\n");
  // Exactly the limit is a whole list.
  xml = "<data><direct>";
  for (size_t i = 0; i < kMaxRouteEntries; ++i) xml += "<entry/>";
  doc.SetText(xml + "</direct></data>");
  EXPECT_TRUE(WalkRouteList(doc, [](RouteKind, const std::string&, const std::string&) {}));
}

TEST(RouteList, TunnelEntriesStayClearOfTheLineAndThePcAndCoverAtMostTwoToThe26) {
  CTunnelEntryGuard guard({{Addr(203, 0, 113, 7), "加速服务器"},
                           {Addr(198, 18, 0, 1), "原默认网关"},
                           {Addr(198, 19, 4, 20), "本机"},
                           {0, "本机"}});  // an address nobody learnt keeps nothing out
  std::string line = "stale";
  const struct {
    const char* net;
    const char* mask;
    TunnelEntryVerdict verdict;
    const char* line;
  } cases[] = {
      {"203.0.113.0", "255.255.255.0", kTunnelEntryRefused,
       "路由项包含加速服务器的地址203.0.113.7，已跳过：net=\"203.0.113.0\" mask=\"255.255.255.0\"\r\n"},
      {"198.18.0.0", "255.254.0.0", kTunnelEntryRefused,
       "路由项包含原默认网关的地址198.18.0.1，已跳过：net=\"198.18.0.0\" mask=\"255.254.0.0\"\r\n"},
      // The host part of the entry does not matter, nor does a mask with holes.
      {"198.19.4.99", "255.255.255.0", kTunnelEntryRefused,
       "路由项包含本机的地址198.19.4.20，已跳过：net=\"198.19.4.99\" mask=\"255.255.255.0\"\r\n"},
      {"203.0.0.7", "255.255.0.255", kTunnelEntryRefused,
       "路由项包含加速服务器的地址203.0.113.7，已跳过：net=\"203.0.0.7\" mask=\"255.255.0.255\"\r\n"},
      {"203.0.113.8", "255.255.255.255", kTunnelEntryTaken, ""},
      {"x", "255.0.0.0", kTunnelEntryTaken, ""},  // BadRouteEntryText's, counted as nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(guard.Check(c.net, c.mask, &line), c.verdict) << c.net << "/" << c.mask;
    EXPECT_EQ(line, c.line) << c.net << "/" << c.mask;
  }

  // Every zero bit of a mask doubles what it covers, holes too: these are exactly 2^26.
  CTunnelEntryGuard full({});
  const char* taken[][2] = {{"10.0.0.0", "255.0.0.0"},      {"11.0.0.0", "255.0.0.0"},
                            {"12.0.0.0", "255.0.0.0"},      {"13.0.0.0", "255.0.0.1"},
                            {"14.0.0.0", "255.128.0.1"},    {"15.0.0.0", "255.192.0.0"}};
  for (auto& t : taken) EXPECT_EQ(full.Check(t[0], t[1], &line), kTunnelEntryTaken) << t[0];
  // One address more is past the limit: that entry and all after it are left, with one line.
  EXPECT_EQ(full.Check("16.0.0.1", "255.255.255.255", &line), kTunnelEntryLeft);
  EXPECT_EQ(line,
            "加速路由项共超过67108864个地址，其余的未添加：net=\"16.0.0.1\" mask=\"255.255.255.255\"\r\n");
  EXPECT_EQ(full.Check("17.0.0.1", "255.255.255.255", &line), kTunnelEntryLeft);
  EXPECT_EQ(line, "");
}

TEST(RouteDump, HeadingThenOneLinePerRowInTableOrder) {
  std::vector<std::string> lines =
      RouteDumpLines({Row(0, 0, Addr(192, 168, 1, 1), 1, 1),
                      Row(Addr(10, 1, 2, 0), Addr(255, 255, 255, 0), Addr(10, 0, 0, 254), 1, 1)});
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "----本地路由表信息：----\r\n");
  EXPECT_EQ(lines[1], "    0.0.0.0/0.0.0.0 => 192.168.1.1\r\n");
  EXPECT_EQ(lines[2], "    10.1.2.0/255.255.255.0 => 10.0.0.254\r\n");
}

// The table the checks ask: longest prefix, then the lower metric; 5010 for a second row to
// one network. Then the check: a game network overlapped by another VPN's more specific
// route is named with what wins, one without any route too, at most ten lines then the count.
TEST(RouteCheck, TheLongestPrefixWinsAndEachNetworkLeavingElsewhereIsNamed) {
  CMemoryRouteTable table;
  const uint32_t tun = 9, vpn = 5, lan = 2;
  EXPECT_EQ(table.Add(Row(0, 0, Addr(192, 168, 1, 1), lan, 10)), 0u);
  EXPECT_EQ(table.Add(Row(Addr(192, 0, 2, 0), Addr(255, 255, 255, 0), Addr(10, 8, 0, 2), tun, 1)), 0u);
  EXPECT_EQ(table.Add(Row(Addr(192, 0, 2, 0), Addr(255, 255, 255, 128), Addr(10, 9, 0, 1), vpn, 1)), 0u);
  EXPECT_EQ(table.Add(Row(Addr(198, 51, 100, 0), Addr(255, 255, 255, 128), Addr(10, 9, 0, 1), vpn, 1)), 0u);
  EXPECT_EQ(table.Add(Row(Addr(198, 51, 100, 0), Addr(255, 255, 255, 128), Addr(10, 8, 0, 2), tun, 1)), 5010u);
  EXPECT_EQ(table.Add(Row(Addr(203, 0, 113, 0), Addr(255, 255, 255, 0), Addr(10, 8, 0, 2), tun, 5)), 0u);
  EXPECT_EQ(table.Add(Row(Addr(203, 0, 0, 0), Addr(255, 255, 0, 0), Addr(10, 9, 0, 1), vpn, 1)), 0u);
  // A mask that is not contiguous counts by its ones.
  EXPECT_EQ(table.Add(Row(Addr(203, 0, 113, 1), Addr(255, 255, 0, 255), Addr(10, 9, 0, 1), vpn, 1)), 0u);
  RouteRow best;
  ASSERT_TRUE(table.Best(Addr(192, 0, 2, 200), &best));
  EXPECT_EQ(best.ifIndex, tun);
  ASSERT_TRUE(table.Best(Addr(192, 0, 2, 1), &best));
  EXPECT_EQ(best.ifIndex, vpn);
  ASSERT_TRUE(table.Best(Addr(203, 0, 113, 9), &best));
  EXPECT_EQ(best.ifIndex, tun);
  ASSERT_TRUE(table.Best(Addr(203, 0, 9, 1), &best));
  EXPECT_EQ(best.ifIndex, vpn);
  ASSERT_TRUE(table.Best(Addr(8, 8, 8, 8), &best));
  EXPECT_EQ(best.ifIndex, lan);
  ASSERT_NE(table.Find(Addr(203, 0, 113, 1), Addr(255, 255, 0, 255)), nullptr);

  std::vector<TunnelNet> nets = {{Addr(192, 0, 2, 0), Addr(255, 255, 255, 0)},
                                 {Addr(203, 0, 113, 0), Addr(255, 255, 255, 0)},
                                 {Addr(198, 51, 100, 0), Addr(255, 255, 255, 128)}};
  BestRouteReader reader = [&table](uint32_t dest, RouteRow* row) { return table.Best(dest, row); };
  RouteCheckResult r = CheckTunnelRoutes(nets, tun, reader);
  EXPECT_EQ(r.checked, 3u);
  EXPECT_EQ(r.missed, 2u);
  ASSERT_EQ(r.log.size(), 2u);
  EXPECT_EQ(r.log[0], "加速路由未生效：192.0.2.0/255.255.255.0 的数据走接口5，下一跳10.9.0.1\r\n");
  EXPECT_EQ(r.log[1], "加速路由未生效：198.51.100.0/255.255.255.128 的数据走接口5，下一跳10.9.0.1\r\n");
  EXPECT_EQ(RouteOwnedElsewhereText(nets[2], best),
            "加速路由已被其他接口占用：198.51.100.0/255.255.255.128 走接口2，下一跳192.168.1.1\r\n");

  // Twelve networks of which eleven have no route at all: ten lines, then the count.
  std::vector<TunnelNet> many;
  for (unsigned i = 0; i < 12; ++i) many.push_back({Addr(20 + i, 0, 0, 0), Addr(255, 0, 0, 0)});
  CMemoryRouteTable lone;
  lone.Add(Row(Addr(31, 0, 0, 0), Addr(255, 0, 0, 0), Addr(10, 8, 0, 2), tun, 1));
  r = CheckTunnelRoutes(many, tun, [&lone](uint32_t d, RouteRow* row) { return lone.Best(d, row); });
  EXPECT_EQ(r.missed, 11u);
  ASSERT_EQ(r.log.size(), 11u);
  EXPECT_EQ(r.log[0], "加速路由未生效：20.0.0.0/255.0.0.0 没有路由\r\n");
  EXPECT_EQ(r.log[10], "另有1个加速路由未生效（共检查12个）\r\n");
}

TEST(RouteCheck, AtMost512NetworksSpreadEvenlyOverTheList) {
  EXPECT_EQ(RouteCheckPicks(3), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(RouteCheckPicks(512).back(), 511u);
  std::vector<size_t> picks = RouteCheckPicks(10000);
  ASSERT_EQ(picks.size(), 512u);
  EXPECT_EQ(picks[0], 0u);
  EXPECT_GE(picks.back(), 10000u - 20);
  for (size_t i = 1; i < picks.size(); ++i) {
    EXPECT_GE(picks[i] - picks[i - 1], 19u);
    EXPECT_LE(picks[i] - picks[i - 1], 20u);
  }
  // The check asks the table once per pick.
  std::vector<TunnelNet> nets(10000, TunnelNet{Addr(20, 0, 0, 0), Addr(255, 0, 0, 0)});
  size_t asked = 0;
  RouteCheckResult r = CheckTunnelRoutes(nets, 1, [&asked](uint32_t, RouteRow* row) {
    ++asked;
    row->ifIndex = 1;
    return true;
  });
  EXPECT_EQ(asked, 512u);
  EXPECT_EQ(r.checked, 512u);
  EXPECT_EQ(r.missed, 0u);
}

// Both halves of the default route on one interface other than the tunnel's; one half, or
// the halves split over two interfaces, is no other VPN.
TEST(OtherVpn, BothHalvesOnOneInterfaceOtherThanTheTunnels) {
  const uint32_t half = Addr(128, 0, 0, 0);
  std::vector<RouteRow> rows = {Row(0, 0, Addr(192, 168, 1, 1), 2, 10),
                                Row(0, half, Addr(10, 9, 0, 1), 5, 1),
                                Row(half, half, Addr(10, 9, 0, 1), 6, 1)};
  EXPECT_EQ(FindDefaultHalves(rows, 9), 0u);
  rows.push_back(Row(half, half, Addr(10, 9, 0, 1), 5, 1));
  EXPECT_EQ(FindDefaultHalves(rows, 9), 5u);
  EXPECT_EQ(FindDefaultHalves(rows, 5), 0u);
  EXPECT_EQ(OtherVpnHalvesText(5),
            "检测到其他VPN连接：接口5持有默认路由的两半(0.0.0.0/1, 128.0.0.0/1)\r\n");
  EXPECT_TRUE(IsVpnDeviceType("vpn"));
  EXPECT_TRUE(IsVpnDeviceType("VPN"));
  EXPECT_FALSE(IsVpnDeviceType("PPPoE"));
  EXPECT_FALSE(IsVpnDeviceType("vpn2"));
  EXPECT_FALSE(IsVpnDeviceType("modem"));
  EXPECT_EQ(OtherVpnDialUpText(7, "vpn"),
            "检测到其他VPN连接：原默认路由在VPN拨号连接上(接口7，设备类型vpn)\r\n");
  EXPECT_EQ(DnsNotPinnedText("10.9.0.53", rows[1]),
            "DNS服务器10.9.0.53的路由走接口5(下一跳10.9.0.1)，不是原默认网关的接口，不固定其路由.\r\n");
}

}  // namespace
