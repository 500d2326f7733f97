// The route manager inside a configuration store of its own (service down, route list from
// the cache), on the system's real forwarding table and DNS list; the additions go to a
// recorder instead of the system.
#include "client/accel/route_manager.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "client/accel/route_table.h"
#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/test_support/stub_client.h"
#include "common/run_log.h"

namespace {

using namespace testing_support;

class RecordingTable : public IRouteTable {
 public:
  DWORD CreateEntry(MIB_IPFORWARDROW* row) override {
    std::lock_guard<std::mutex> lock(mu_);
    rows_.push_back(*row);
    // Stands for a route the system already has.
    return row->dwForwardMask == inet_addr("255.0.0.0") ? 5010 : NO_ERROR;
  }
  std::vector<MIB_IPFORWARDROW> Rows() {
    std::lock_guard<std::mutex> lock(mu_);
    return rows_;
  }

 private:
  std::mutex mu_;
  std::vector<MIB_IPFORWARDROW> rows_;
};

const char kRouteList[] =
    "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<data>"
    "<remote><entry net=\"10.1.2.3\" mask=\"255.255.255.0\"/>"
    "<entry net=\"11.0.0.0\" mask=\"255.0.0.0\"/>"
    "<entry net=\"12.3.0.0\" mask=\"255.255.0.0\"/></remote>"
    "<direct><entry net=\"13.1.1.0\" mask=\"255.255.255.0\"/></direct></data>";

class RouteManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeOfflineProgramDir("routes");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\route.xml", kRouteList));
    ASSERT_TRUE(CConfigStore::GetDnsServers(dns_));
    SetRouteTable(&table_);
    store_ = new CConfigStore(dir_ + "\\accelclient.exe");
    ASSERT_NE(store_->m_pWorker, nullptr);
  }
  void TearDown() override {
    delete store_;  // ends the worker before the recorder goes
    SetRouteTable(nullptr);
  }

  void PumpFor(DWORD ms, size_t answers, size_t rows) {
    PumpUntil([&] { return failed_.size() >= answers && table_.Rows().size() >= rows; }, ms);
  }

  std::string Log() {
    std::string text;
    ReadFileBytes(CRunLog::GetPath(), &text);
    return text;
  }

  std::string dir_;
  std::vector<std::string> dns_;
  RecordingTable table_;
  std::vector<UINT> failed_;
  CRecordingWindow window_{[this](UINT msg, WPARAM w, LPARAM l) {
    if (msg != WM_ROUTE_FAILED) return false;
    failed_.push_back(static_cast<UINT>(w + l));  // both are 0 in a correct answer
    return true;
  }};
  CConfigStore* store_ = nullptr;
};

TEST_F(RouteManagerTest, StartPinsTheDnsServersAndApplyWithoutTunnelRouteFailsWithoutDownload) {
  store_->m_tunnelIp = "";
  ASSERT_TRUE(store_->PostToWorker(WM_WORKER_APPLY_ROUTES, 0, window_.AsLParam()));
  PumpFor(10000, 1, 0);
  ASSERT_EQ(failed_.size(), 1u);
  EXPECT_EQ(failed_[0], 0u);

  // The start-up ran before the message: one pin per DNS server, nothing from the list.
  std::vector<MIB_IPFORWARDROW> rows = table_.Rows();
  ASSERT_EQ(rows.size(), dns_.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].dwForwardMask, inet_addr("255.255.255.0"));
    EXPECT_EQ(rows[i].dwForwardDest, inet_addr(dns_[i].c_str()) & inet_addr("255.255.255.0"));
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
}

TEST_F(RouteManagerTest, ApplyAddsTheCachedListThroughTheTunnelRouteAndGoesOnAfterAFailure) {
  std::vector<RouteRow> table;
  ASSERT_TRUE(ReadForwardTable(table, "no memory\r\n", "no table\r\n"));
  const RouteRow* tunnel = nullptr;
  for (const RouteRow& r : table)
    if (r.nextHop != 0 && r.nextHop != INADDR_NONE) tunnel = &r;
  if (!tunnel) GTEST_SKIP() << "no route with a next hop in this system's table";
  store_->m_tunnelIp = DottedAddress(tunnel->nextHop);
  ASSERT_TRUE(store_->PostToWorker(WM_WORKER_APPLY_ROUTES, 0, window_.AsLParam()));
  size_t pins = dns_.size();
  PumpFor(20000, 0, pins + 4);
  ASSERT_EQ(table_.Rows().size(), pins + 4);
  EXPECT_TRUE(failed_.empty());

  std::vector<MIB_IPFORWARDROW> rows = table_.Rows();
  EXPECT_EQ(rows[pins].dwForwardDest, inet_addr("10.1.2.0"));
  EXPECT_EQ(rows[pins + 1].dwForwardDest, inet_addr("11.0.0.0"));
  EXPECT_EQ(rows[pins + 2].dwForwardDest, inet_addr("12.3.0.0"));
  for (size_t i = pins; i < pins + 3; ++i) {
    EXPECT_EQ(rows[i].dwForwardNextHop, tunnel->nextHop);
    EXPECT_EQ(rows[i].dwForwardIfIndex, tunnel->ifIndex);
    EXPECT_EQ(rows[i].dwForwardType, 3u);
    EXPECT_EQ(rows[i].dwForwardProto, 3u);
  }
  EXPECT_EQ(rows[pins + 3].dwForwardDest, inet_addr("13.1.1.0"));
  EXPECT_EQ(rows[pins + 3].dwForwardNextHop, store_->m_directRoute.dwForwardNextHop);
  EXPECT_EQ(store_->m_tunnelRoute.dwForwardNextHop, tunnel->nextHop);
  EXPECT_NE(Log().find("添加路由失败：路由项已经存在.\r\n"), std::string::npos);
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
