// The route manager inside a configuration store of its own (service down, route list from
// the cache), on the system's real forwarding table and DNS list; the additions go to a
// recorder instead of the system.
#include "client/accel/route_manager.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "client/accel/route_table.h"
#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/test_support/worker_store.h"
#include "common/run_log.h"

namespace {

using namespace testing_support;

// The rows it accepts are answered by its best route too, ahead of the system's own when
// their prefix is longer.
class RecordingTable : public IRouteTable {
 public:
  DWORD CreateEntry(MIB_IPFORWARDROW* row) override {
    std::lock_guard<std::mutex> lock(mu_);
    rows_.push_back(*row);
    if (row->dwForwardMask == refusedMask) return ERROR_ACCESS_DENIED;
    RouteRow r;
    std::memcpy(&r, row, sizeof r);
    memory_.Add(r);
    // Stands for a route the system already has, through the same tunnel.
    return row->dwForwardMask == inet_addr("255.0.0.0") ? 5010 : NO_ERROR;
  }
  DWORD BestRoute(DWORD dest, MIB_IPFORWARDROW* row) override {
    DWORD rc = GetBestRoute(dest, 0, row);
    std::lock_guard<std::mutex> lock(mu_);
    RouteRow mine;
    if (!memory_.Best(dest, &mine)) return rc;
    if (rc == NO_ERROR && __builtin_popcount(row->dwForwardMask) > __builtin_popcount(mine.mask))
      return rc;
    std::memcpy(row, &mine, sizeof mine);
    return NO_ERROR;
  }
  DWORD refusedMask = 0;  // rows with this mask are refused (set before the job runs)
  std::vector<MIB_IPFORWARDROW> Rows() {
    std::lock_guard<std::mutex> lock(mu_);
    return rows_;
  }

 private:
  std::mutex mu_;
  std::vector<MIB_IPFORWARDROW> rows_;
  CMemoryRouteTable memory_;
};

const char kRouteList[] =
    "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<data>"
    "<remote><entry net=\"10.1.2.3\" mask=\"255.255.255.0\"/>"
    "<entry net=\"11.0.0.0\" mask=\"255.0.0.0\"/>"
    "<entry mask=\"255.255.255.0\"/>"
    "<entry net=\"12.3.0.0\" mask=\"255.255.0.0\"/>"
    "<entry net=\"14.0.0.0\" mask=\"255.255\"/>"
    "<entry net=\"0.0.0.0\" mask=\"128.0.0.0\"/></remote>"
    "<direct><entry net=\"game.example\" mask=\"255.255.255.0\"/>"
    "<entry net=\"127.0.0.1\" mask=\"255.255.255.255\"/>"
    "<entry net=\"13.1.1.0\" mask=\"255.255.255.0\"/></direct></data>";

class RouteManagerTest : public CWorkerStoreTest {
 protected:
  void SetUp() override { Start(false); }
  void Start(bool useStandIn) {
    ASSERT_TRUE(CConfigStore::GetDnsServers(dns_));
    SetRouteTable(&table_);
    StartStore("routes", useStandIn, {{"route.xml", kRouteList}});
  }
  void TearDown() override {
    CWorkerStoreTest::TearDown();  // ends the worker before the recorder goes
    SetRouteTable(nullptr);
  }

  void PumpFor(DWORD ms, size_t answers, size_t rows) {
    PumpUntil([&] { return answers_.size() >= answers && table_.Rows().size() >= rows; }, ms);
  }

  // The first route of this system's table with a next hop, standing for the tunnel's
  // route (the manager takes the first row with the tunnel address as its next hop).
  static bool SomeTunnelRoute(RouteRow* found) {
    std::vector<RouteRow> table;
    if (!ReadForwardTable(table, "no memory\r\n", "no table\r\n")) return false;
    for (const RouteRow& r : table)
      if (r.nextHop != 0 && r.nextHop != INADDR_NONE) {
        *found = r;
        return true;
      }
    return false;
  }

  // Each job reads the network again and pins the DNS servers anew where the table lacks
  // them (the recorder adds nothing to the real one); without a default route it keeps the
  // last one found and pins nothing.
  // Read from the system's table, not the store: the worker may not have looked yet.
  size_t PinsPerJob() const { return HasDefaultRoute() ? dns_.size() : 0; }

  std::vector<std::string> dns_;
  RecordingTable table_;
};

TEST_F(RouteManagerTest, StartPinsTheDnsServersAndApplyWithoutTunnelRouteFailsWithoutDownload) {
  store_->m_tunnelIp = "";
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  PumpFor(10000, 1, 0);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(answers_[0].w, 0u);
  EXPECT_EQ(answers_[0].l, 0);

  // The start-up ran before the message: one pin per DNS server, and the job's own pins
  // through the same gateway, nothing from the list.
  std::vector<MIB_IPFORWARDROW> rows = table_.Rows();
  ASSERT_EQ(rows.size(), dns_.size() + PinsPerJob());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].dwForwardMask, inet_addr("255.255.255.0"));
    EXPECT_EQ(rows[i].dwForwardDest, inet_addr(dns_[i % dns_.size()].c_str()) & inet_addr("255.255.255.0"));
    EXPECT_EQ(rows[i].dwForwardNextHop, store_->m_directRoute.dwForwardNextHop);
    EXPECT_EQ(rows[i].dwForwardIfIndex, store_->m_directRoute.dwForwardIfIndex);
  }
  if (!store_->m_defaultGateway.empty()) {
    in_addr a;
    a.s_addr = store_->m_directRoute.dwForwardNextHop;
    EXPECT_EQ(store_->m_defaultGateway, inet_ntoa(a));
  }
  std::string list;
  ASSERT_TRUE(ReadFileBytes(dir_ + "\\Cache\\route.xml", &list));
  EXPECT_EQ(list, kRouteList);

  // The address the page passes when the module did not learn one, and all ones: refused
  // with a log line, whatever on-link rows (next hop 0.0.0.0) this system's table holds.
  for (const char* unknown : {"0.0.0.0", "255.255.255.255"}) {
    store_->m_tunnelIp = unknown;  // read by the worker when it takes the job
    ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
    PumpFor(10000, answers_.size() + 1, 0);
  }
  Sleep(300);
  ASSERT_EQ(answers_.size(), 3u);
  EXPECT_EQ(answers_[1].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(answers_[2].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(table_.Rows().size(), dns_.size() + 3 * PinsPerJob());
  std::string log = Log();
  EXPECT_NE(log.find("隧道地址无效(0.0.0.0)，不添加加速路由.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("隧道地址无效(255.255.255.255)，不添加加速路由.\r\n"), std::string::npos);
}

TEST_F(RouteManagerTest, ApplyAddsTheCachedListThroughTheTunnelRouteAndGoesOnAfterAFailure) {
  RouteRow tunnel;
  if (!SomeTunnelRoute(&tunnel)) GTEST_SKIP() << "no route with a next hop in this system's table";
  store_->m_tunnelIp = DottedAddress(tunnel.nextHop);
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  // The start's pins, then each job's own before its list.
  const size_t perJob = PinsPerJob();
  auto pinsAfter = [&](size_t jobs) { return dns_.size() + jobs * perJob; };
  size_t pins = pinsAfter(1);
  PumpFor(20000, 0, pins + 4);
  Sleep(300);  // an entry that is not an address would show as one more row
  ASSERT_EQ(table_.Rows().size(), pins + 4);
  EXPECT_TRUE(answers_.empty());

  std::vector<MIB_IPFORWARDROW> rows = table_.Rows();
  EXPECT_EQ(rows[pins].dwForwardDest, inet_addr("10.1.2.0"));
  EXPECT_EQ(rows[pins + 1].dwForwardDest, inet_addr("11.0.0.0"));
  EXPECT_EQ(rows[pins + 2].dwForwardDest, inet_addr("12.3.0.0"));
  for (size_t i = pins; i < pins + 3; ++i) {
    EXPECT_EQ(rows[i].dwForwardNextHop, tunnel.nextHop);
    EXPECT_EQ(rows[i].dwForwardIfIndex, tunnel.ifIndex);
    EXPECT_EQ(rows[i].dwForwardType, 3u);
    EXPECT_EQ(rows[i].dwForwardProto, 3u);
  }
  EXPECT_EQ(rows[pins + 3].dwForwardDest, inet_addr("13.1.1.0"));
  EXPECT_EQ(rows[pins + 3].dwForwardNextHop, store_->m_directRoute.dwForwardNextHop);
  EXPECT_EQ(store_->m_tunnelRoute.dwForwardNextHop, tunnel.nextHop);
  std::string log = Log();
  EXPECT_NE(log.find("添加路由失败：路由项已经存在.\r\n"), std::string::npos);
  // The three entries that are no addresses are named in the log and never added.
  EXPECT_NE(log.find("路由项不是有效的地址，已跳过：net=\"\" mask=\"255.255.255.0\"\r\n"),
            std::string::npos) << log;
  EXPECT_NE(log.find("路由项不是有效的地址，已跳过：net=\"14.0.0.0\" mask=\"255.255\"\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("路由项不是有效的地址，已跳过：net=\"game.example\" mask=\"255.255.255.0\"\r\n"),
            std::string::npos);
  // Half the Internet through the tunnel and loopback past it: named, never added.
  EXPECT_NE(log.find("路由项的网络不允许添加，已跳过：net=\"0.0.0.0\" mask=\"128.0.0.0\"\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("路由项的网络不允许添加，已跳过：net=\"127.0.0.1\" mask=\"255.255.255.255\"\r\n"),
            std::string::npos);

  // The table refuses one network of the tunnel: the job fails, the other networks are
  // still added. Then no list at all (the service is down here): the job fails too.
  table_.refusedMask = inet_addr("255.255.0.0");
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  PumpFor(20000, 1, pinsAfter(2) + 8);
  EXPECT_EQ(table_.Rows().size(), pinsAfter(2) + 8);
  EXPECT_NE(Log().find("添加路由失败：权限不够，请使用管理员权限运行加速器.\r\n"), std::string::npos);
  ASSERT_TRUE(DeleteFileA((dir_ + "\\Cache\\route.xml").c_str()));
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  PumpFor(10000, 2, 0);
  Sleep(300);
  ASSERT_EQ(answers_.size(), 2u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(answers_[1].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(table_.Rows().size(), pinsAfter(3) + 8);

  // A list whose tunnel networks would hold the former gateway, or take five /8s: the first
  // is refused, the fifth /8 left, the direct network still added, and the job fails.
  table_.refusedMask = 0;
  const std::string gateway = DottedAddress(store_->m_directRoute.dwForwardNextHop);
  std::string list = "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<data><remote>";
  if (store_->m_directRoute.dwForwardNextHop != 0)
    list += "<entry net=\"" + gateway + "\" mask=\"255.255.255.255\"/>";
  for (int i = 21; i <= 25; ++i) list += "<entry net=\"" + std::to_string(i) + ".0.0.0\" mask=\"255.0.0.0\"/>";
  list += "</remote><direct><entry net=\"13.1.1.0\" mask=\"255.255.255.0\"/></direct></data>";
  FILE* f = std::fopen((dir_ + "\\Cache\\route.xml").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(list.data(), 1, list.size(), f);
  std::fclose(f);
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  pins = pinsAfter(4);
  PumpFor(20000, 3, pins + 13);
  Sleep(300);
  ASSERT_EQ(answers_.size(), 3u);
  EXPECT_EQ(answers_[2].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  rows = table_.Rows();
  ASSERT_EQ(rows.size(), pins + 13);
  EXPECT_EQ(rows[pins + 8].dwForwardDest, inet_addr("21.0.0.0"));
  EXPECT_EQ(rows[pins + 11].dwForwardDest, inet_addr("24.0.0.0"));
  EXPECT_EQ(rows[pins + 12].dwForwardDest, inet_addr("13.1.1.0"));
  log = Log();
  if (store_->m_directRoute.dwForwardNextHop != 0) {
    EXPECT_NE(log.find("路由项包含原默认网关的地址" + gateway + "，已跳过：net=\"" + gateway +
                       "\" mask=\"255.255.255.255\"\r\n"),
              std::string::npos) << log;
  }
  EXPECT_NE(log.find("加速路由项共超过67108864个地址，其余的未添加：net=\"25.0.0.0\" "
                     "mask=\"255.0.0.0\"\r\n"),
            std::string::npos) << log;
}

class RouteManagerStandInTest : public RouteManagerTest {
 protected:
  void SetUp() override { Start(true); }
};

TEST_F(RouteManagerStandInTest, ListOfTheSelectedGameIsFetchedOnlyWithATunnelRoute) {
  store_->m_modeApp = 3;
  const std::string target = "/route.php?app_id=3";
  const size_t asked = CountStubRecords("target", target);
  const size_t askedAny = CountStubRecords("path", "/route.php");

  // No tunnel address: the job fails before any list is asked for.
  store_->m_tunnelIp = "";
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  PumpFor(10000, 1, 0);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ROUTE_FAILED));
  EXPECT_EQ(CountStubRecords("path", "/route.php"), askedAny);

  RouteRow tunnel;
  if (!SomeTunnelRoute(&tunnel)) GTEST_SKIP() << "no route with a next hop in this system's table";
  if (!CConfigStore::IsOnline()) GTEST_SKIP() << "no connection reported";
  store_->m_tunnelIp = DottedAddress(tunnel.nextHop);
  size_t pins = dns_.size() + 2 * PinsPerJob();
  ASSERT_TRUE(Post(WM_WORKER_APPLY_ROUTES, 0));
  PumpFor(20000, 0, pins + 3);
  EXPECT_EQ(CountStubRecords("target", target), asked + 1);
  // The stand-in's route_3.xml replaced the cached list, and its networks were added.
  std::string served;
  EXPECT_EQ(200, HttpRequest(kStubListPort, "GET", target, "", &served));
  std::string cached;
  ASSERT_TRUE(ReadFileBytes(dir_ + "\\Cache\\route.xml", &cached));
  EXPECT_EQ(served, cached);
  std::vector<MIB_IPFORWARDROW> rows = table_.Rows();
  ASSERT_EQ(rows.size(), pins + 3);
  EXPECT_EQ(rows[pins].dwForwardDest, inet_addr("203.0.113.0"));
  EXPECT_EQ(rows[pins].dwForwardNextHop, tunnel.nextHop);
  EXPECT_EQ(rows[pins + 1].dwForwardDest, inet_addr("192.0.2.64"));
  EXPECT_EQ(rows[pins + 2].dwForwardDest, inet_addr("198.51.100.0"));
  EXPECT_EQ(rows[pins + 2].dwForwardNextHop, store_->m_directRoute.dwForwardNextHop);
}

TEST_F(RouteManagerTest, DumpWritesTheHeadingAndOneLinePerRow) {
  std::vector<RouteRow> table;
  ASSERT_TRUE(ReadForwardTable(table, "no memory\r\n", "no table\r\n"));
  CRouteManager::DumpRouteTable();
  std::string log = Log();
  EXPECT_NE(log.find("----本地路由表信息：----\r\n"), std::string::npos);
  size_t lines = 0;
  for (size_t at = log.find(" => "); at != std::string::npos; at = log.find(" => ", at + 1)) ++lines;
  EXPECT_EQ(lines, table.size());
}

}  // namespace
