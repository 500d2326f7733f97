// The background worker inside a configuration store of its own (service down, lines from
// a cached groups.xml), answering a real window: speed ticks on a real interface and pings
// over a raw ICMP socket to loopback.
#include "client/diag/ui_worker.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

struct Answer {
  UINT msg;
  WPARAM w;
  LPARAM l;
  std::string text;
};

const char kGroups[] =
    "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Data>"
    "<Group name=\"g\"><Server id=\"7\" name=\"loop\" host=\"127.0.0.1\" credit=\"1\"/>"
    "<Server id=\"8\" name=\"nowhere\" host=\"no-such-line.invalid\" credit=\"1\"/></Group>"
    "</Data>";

class UiWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeOfflineProgramDir("worker");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\groups.xml", kGroups));
    store_ = new CConfigStore(dir_ + "\\accelclient.exe");
    ASSERT_NE(store_->m_pWorker, nullptr);
  }
  // Ends the worker before the window that it answers goes.
  void TearDown() override { delete store_; }

  void Post(UINT msg, WPARAM w) { ASSERT_TRUE(store_->PostToWorker(msg, w, window_.AsLParam())); }
  // Pumps until n answers have arrived or the time is up.
  void Pump(size_t n, DWORD ms) {
    PumpUntil([&] { return answers_.size() >= n; }, ms);
  }

  // An interface whose row can be read.
  static DWORD ReadableInterface() {
    ULONG size = 0;
    GetIfTable(nullptr, &size, FALSE);
    std::vector<char> buf(size);
    MIB_IFTABLE* table = reinterpret_cast<MIB_IFTABLE*>(buf.data());
    if (size == 0 || GetIfTable(table, &size, FALSE) != NO_ERROR || table->dwNumEntries == 0)
      return 0;
    return table->table[0].dwIndex;
  }

  std::vector<Answer> answers_;
  CRecordingWindow window_{[this](UINT msg, WPARAM w, LPARAM l) {
    if (msg != WM_TRAFFIC_TEXT && msg != WM_PING_RESULT) return false;
    Answer a{msg, w, l, ""};
    if (msg == WM_TRAFFIC_TEXT && l) a.text = reinterpret_cast<const char*>(l);
    answers_.push_back(a);
    return true;
  }};
  std::string dir_;
  CConfigStore* store_ = nullptr;
};

TEST_F(UiWorkerTest, FirstTickSetsTheBaselineAndATickASecondLaterPostsTheSpeedText) {
  DWORD index = ReadableInterface();
  ASSERT_NE(index, 0u);
  Post(WM_WORKER_TICK, index);
  Pump(1, 500);
  EXPECT_TRUE(answers_.empty());
  Sleep(1000);
  Post(WM_WORKER_TICK, index);
  Pump(1, 3000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_TRAFFIC_TEXT));
  EXPECT_EQ(answers_[0].w, 0u);
  // "上传：%.1f kb，下载：%.1f kb" in GBK bytes.
  EXPECT_TRUE(std::regex_match(answers_[0].text,
                               std::regex("\xC9\xCF\xB4\xAB\xA3\xBA[0-9]+\\.[0-9] kb\xA3\xAC"
                                          "\xCF\xC2\xD4\xD8\xA3\xBA[0-9]+\\.[0-9] kb")))
      << answers_[0].text;
}

TEST_F(UiWorkerTest, TickOnAnUnreadableInterfaceDoesNothing) {
  Post(WM_WORKER_TICK, 0x7FFFFFF0);
  Sleep(1000);
  Post(WM_WORKER_TICK, 0x7FFFFFF0);
  Pump(1, 1000);
  EXPECT_TRUE(answers_.empty());
}

TEST_F(UiWorkerTest, PingOfALoopbackLineAnswersWithTheEchoTime) {
  Post(WM_WORKER_PING, 7);
  Pump(1, 10000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_PING_RESULT));
  EXPECT_EQ(answers_[0].w, static_cast<WPARAM>(kPingOk));
  EXPECT_GE(answers_[0].l, 0);
  EXPECT_LT(answers_[0].l, 1000);
}

TEST_F(UiWorkerTest, PingOfAnUnknownLineUsesTheFirstLine) {
  Post(WM_WORKER_PING, 12345);
  Pump(1, 10000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].w, static_cast<WPARAM>(kPingOk));
}

TEST_F(UiWorkerTest, PingOfAHostThatDoesNotResolveIsNotSent) {
  Post(WM_WORKER_PING, 8);
  Pump(1, 20000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].w, static_cast<WPARAM>(kPingNotSent));
  EXPECT_EQ(answers_[0].l, 0);
}

TEST_F(UiWorkerTest, WorkerEndSavesTheSettings) {
  store_->m_userName = "ender";
  delete store_;
  store_ = nullptr;
  char buf[64];
  GetPrivateProfileStringA("User", "NAME", "", buf, sizeof buf,
                           (dir_ + "\\Cache\\user.ini").c_str());
  EXPECT_STREQ(buf, "ender");
}

}  // namespace
