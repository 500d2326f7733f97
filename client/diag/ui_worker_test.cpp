// The background worker inside a configuration store of its own (service down, lines from
// a cached groups.xml), answering a real window: speed ticks on a real interface and pings
// over a raw ICMP socket to loopback; what a line that never answers does is reached
// through the raw socket's receive.
#include "client/diag/ui_worker.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "client/account/config_store.h"
#include "client/test_support/worker_store.h"

namespace {

using namespace testing_support;

const char kGroups[] =
    "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Data>"
    "<Group name=\"g\"><Server id=\"7\" name=\"loop\" host=\"127.0.0.1\" credit=\"1\"/>"
    "<Server id=\"8\" name=\"nowhere\" host=\"no-such-line.invalid\" credit=\"1\"/></Group>"
    "</Data>";

// Stands for the raw socket's wait: nothing at all, or only packets of other sources, or
// a wait that outlasts the store's patience.
class CScriptedReceive : public IEchoReceive {
 public:
  enum Mode { kNothing, kForeign, kSlowNothing };
  explicit CScriptedReceive(Mode mode) : mode_(mode) {}
  int Receive(CSyncSocket&, char* buffer, int size, int) override {
    ++calls;
    if (mode_ == kSlowNothing) {
      Sleep(10500);
      ended = true;
      return 0;
    }
    if (mode_ == kNothing || size < 20) return 0;
    // An IPv4 header whose source is 127.0.0.9, not the line's 127.0.0.1.
    std::memset(buffer, 0, 20);
    buffer[0] = 0x45;
    const unsigned char source[4] = {127, 0, 0, 9};
    std::memcpy(buffer + 12, source, 4);
    return 20;
  }
  std::atomic<int> calls{0};
  std::atomic<bool> ended{false};

 private:
  Mode mode_;
};

class UiWorkerTest : public CWorkerStoreTest {
 protected:
  void SetUp() override { StartStore("worker", false, {{"groups.xml", kGroups}}); }
  void TearDown() override {
    CWorkerStoreTest::TearDown();
    SetEchoReceive(nullptr);
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
};

TEST_F(UiWorkerTest, FirstTickSetsTheBaselineAndATickASecondLaterPostsTheSpeedText) {
  DWORD index = ReadableInterface();
  ASSERT_NE(index, 0u);
  ASSERT_TRUE(Post(WM_WORKER_TICK, index));
  WaitAnswers(1, 500);
  EXPECT_TRUE(answers_.empty());
  Sleep(1000);
  ASSERT_TRUE(Post(WM_WORKER_TICK, index));
  WaitAnswers(1, 3000);
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
  ASSERT_TRUE(Post(WM_WORKER_TICK, 0x7FFFFFF0));
  Sleep(1000);
  ASSERT_TRUE(Post(WM_WORKER_TICK, 0x7FFFFFF0));
  WaitAnswers(1, 1000);
  EXPECT_TRUE(answers_.empty());
}

TEST_F(UiWorkerTest, PingOfALoopbackLineAnswersEveryProbeWithTheMedianEchoTime) {
  DWORD start = GetTickCount();
  ASSERT_TRUE(Post(WM_WORKER_PING, 7));
  WaitAnswers(1, 10000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_PING_RESULT));
  EXPECT_EQ(answers_[0].w, 7u);
  EXPECT_EQ(PingStatusOf(answers_[0].l), 4);
  EXPECT_LT(PingMsOf(answers_[0].l), 1000);
  // Four probes 250 ms apart: the last leaves 750 ms after the first.
  EXPECT_GE(GetTickCount() - start, 700u);
}

TEST_F(UiWorkerTest, EveryLineAnswersUnderItsOwnIdAndAnUnknownIdGetsTheFirstLine) {
  ASSERT_TRUE(Post(WM_WORKER_PING, kPingEveryLine));
  WaitAnswers(2, 20000);
  ASSERT_EQ(answers_.size(), 2u);
  // The host that does not resolve is answered before any probe leaves.
  EXPECT_EQ(answers_[0].w, 8u);
  EXPECT_EQ(answers_[0].l, PingAnswer(kPingNotSent, 0));
  EXPECT_EQ(answers_[1].w, 7u);
  EXPECT_EQ(PingStatusOf(answers_[1].l), 4);

  ASSERT_TRUE(Post(WM_WORKER_PING, 12345));
  WaitAnswers(3, 10000);
  ASSERT_EQ(answers_.size(), 3u);
  EXPECT_EQ(answers_[2].w, 12345u);
  EXPECT_EQ(PingStatusOf(answers_[2].l), 4);
}

TEST_F(UiWorkerTest, LineThatNeverAnswersTimesOutWhetherNothingOrOnlyOthersArrive) {
  CScriptedReceive nothing(CScriptedReceive::kNothing);
  SetEchoReceive(&nothing);
  DWORD start = GetTickCount();
  ASSERT_TRUE(Post(WM_WORKER_PING, 7));
  WaitAnswers(1, 10000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].w, 7u);
  EXPECT_EQ(answers_[0].l, PingAnswer(0, 0));
  EXPECT_GT(nothing.calls, 0);
  // The last probe leaves at 750 ms and is waited for a second.
  EXPECT_GE(GetTickCount() - start, 1700u);
  EXPECT_LT(GetTickCount() - start, 4000u);

  CScriptedReceive foreign(CScriptedReceive::kForeign);
  SetEchoReceive(&foreign);
  ASSERT_TRUE(Post(WM_WORKER_PING, 7));
  WaitAnswers(2, 10000);
  ASSERT_EQ(answers_.size(), 2u);
  EXPECT_EQ(answers_[1].l, PingAnswer(0, 0));
  EXPECT_GT(foreign.calls, 4);
}

TEST_F(UiWorkerTest, StoreEndWaitsForAJobLongerThanTenSeconds) {
  CScriptedReceive slow(CScriptedReceive::kSlowNothing);
  SetEchoReceive(&slow);
  ASSERT_TRUE(Post(WM_WORKER_PING, 7));
  PumpUntil([&] { return slow.calls > 0; }, 5000);
  ASSERT_EQ(slow.calls, 1);
  // The worker still runs its job: the store's end must not free it (nor itself) before
  // the thread has ended.
  delete store_;
  store_ = nullptr;
  EXPECT_TRUE(slow.ended);
}

TEST_F(UiWorkerTest, WorkerEndSavesTheLoadedSettings) {
  store_->LoadSettings();
  store_->m_userName = "ender";
  delete store_;
  store_ = nullptr;
  char buf[64];
  GetPrivateProfileStringA("User", "NAME", "", buf, sizeof buf,
                           (dir_ + "\\Cache\\user.ini").c_str());
  EXPECT_STREQ(buf, "ender");
}

TEST_F(UiWorkerTest, WorkerEndOfAStoreThatNeverLoadedLeavesTheSettingsAlone) {
  const std::string saved = "[User]\r\nNAME=keeper\r\nPASSWD=acc\r\nREMEMBER=1\r\nRUN_COUNTER=4\r\n";
  ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\user.ini", saved));
  delete store_;
  store_ = nullptr;
  std::string now;
  ASSERT_TRUE(ReadFileBytes(dir_ + "\\Cache\\user.ini", &now));
  EXPECT_EQ(saved, now);
}

}  // namespace
