// The login job on the background worker against a UDP responder of the test's own on
// 127.0.0.1: success, a server error code and a server that never answers.
#include "client/account/login_socket.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/test_support/worker_store.h"
#include "common/run_log.h"

namespace {

using namespace testing_support;

// Answers every datagram on a loopback port with a fixed reply and keeps the requests.
class CUdpResponder {
 public:
  explicit CUdpResponder(const std::string& reply) : m_reply(reply) {
    m_sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(m_sock, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(m_sock, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Run(); });
  }
  ~CUdpResponder() {
    m_stop = true;
    m_thread.join();
    closesocket(m_sock);
  }
  int Port() const { return m_port; }
  std::vector<std::string> Requests() {
    std::vector<std::string> copy;
    m_lock.lock();
    copy = m_requests;
    m_lock.unlock();
    return copy;
  }

 private:
  void Run() {
    while (!m_stop) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(m_sock, &set);
      timeval tv = {0, 100000};
      if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
      char buf[2048];
      sockaddr_in from;
      int fromLen = sizeof from;
      int n = recvfrom(m_sock, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n <= 0) continue;
      m_lock.lock();
      m_requests.push_back(std::string(buf, n));
      m_lock.unlock();
      sendto(m_sock, m_reply.data(), static_cast<int>(m_reply.size()), 0,
             reinterpret_cast<sockaddr*>(&from), fromLen);
    }
  }

  std::string m_reply;
  SOCKET m_sock;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}
std::string Str(const std::string& s) {
  return std::string(1, static_cast<char>(s.size() >> 8)) + static_cast<char>(s.size()) + s;
}

// A port on 127.0.0.1 that was just free: nothing listens on it.
int SilentPort() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

class LoginSocketTest : public CWorkerStoreTest {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    StartStore("login", false,
               {{"groups.xml",
                 "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Data><Group name=\"g\">"
                 "<Server id=\"7\" name=\"a\" host=\"127.0.0.5\" credit=\"1\"/>"
                 "<Server id=\"8\" name=\"b\" host=\"127.0.0.6\" credit=\"1\"/>"
                 "</Group></Data>"}});
    store_->m_accountUser = "\xD5\xC5\xC8\xFD";  // GBK "张三"
    store_->m_accountPassword = "Secret9";
    store_->m_loginCode = "old";
  }
  void TearDown() override {
    CWorkerStoreTest::TearDown();
    WSACleanup();
  }

  void RunJob(WPARAM w, DWORD ms) {
    ASSERT_TRUE(Post(WM_WORKER_CONNECT, w));
    WaitAnswers(1, ms);
  }
};

TEST_F(LoginSocketTest, SuccessStoresTheAccountAndAnswersWithTheJobsWParam) {
  CUdpResponder server("\x01\x02" + Le32(0) + Str("x") + Str("LC-77") + Le32(99) + Le32(0));
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(static_cast<WPARAM>(-1), 5000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_VERIFIED));
  EXPECT_EQ(answers_[0].w, static_cast<WPARAM>(-1));
  EXPECT_EQ(answers_[0].l, 0);
  EXPECT_EQ(store_->m_loginCode, "LC-77");
  EXPECT_EQ(store_->m_accountKind, "付费用户");
  // Expiry 0 in local time: the minute depends on the machine's zone, the shape does not.
  EXPECT_TRUE(std::regex_match(store_->m_expiry, std::regex("19(69-12-31|70-01-01) \\d\\d:\\d\\d")))
      << store_->m_expiry;

  std::vector<std::string> got = server.Requests();
  ASSERT_EQ(got.size(), 1u);
  const std::string& r = got[0];
  ASSERT_GE(r.size(), 17u);
  EXPECT_EQ(r.substr(0, 15), std::string("\x03\x01\x01", 3) + std::string(12, '\0'));
  size_t idLength = (static_cast<unsigned char>(r[15]) << 8) | static_cast<unsigned char>(r[16]);
  ASSERT_TRUE(idLength == 0 || idLength == 12) << idLength;
  std::string hostId = r.substr(17, idLength);
  EXPECT_TRUE(std::regex_match(hostId, std::regex("([0-9A-F]{12})?"))) << hostId;
  EXPECT_EQ(r.substr(17 + idLength),
            Str("\xD5\xC5\xC8\xFD") + Str("Secret9") + Str("127.0.0.1"));
}

TEST_F(LoginSocketTest, LineJobSendsTheLinesHostAndAnswersWithTheLineId) {
  CUdpResponder server("\x01\x02" + Le32(0) + Str("") + Str("LC-8") + Le32(1) + Le32(0));
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(8, 5000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_VERIFIED));
  EXPECT_EQ(answers_[0].w, 8u);
  EXPECT_EQ(store_->m_accountKind, "免费积分用户");
  std::vector<std::string> got = server.Requests();
  ASSERT_EQ(got.size(), 1u);
  const std::string tail = Str("127.0.0.6");
  ASSERT_GE(got[0].size(), tail.size());
  EXPECT_EQ(got[0].substr(got[0].size() - tail.size()), tail);
}

TEST_F(LoginSocketTest, ServerErrorCodeIsAnsweredAndLoggedAndTheAccountStays) {
  CUdpResponder server(std::string("\0\0", 2) + Le32(1234));
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(static_cast<WPARAM>(-1), 5000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].w, 1234u);
  EXPECT_EQ(answers_[0].l, kRejectedByServer);
  EXPECT_EQ(store_->m_loginCode, "old");
  EXPECT_NE(Log().find("登录失败，错误代码: 1234.\r\n"), std::string::npos);

  // A server's own 1 is its refusal, not the client's "no answer"; so is the largest code.
  for (uint32_t code : {1u, 0xFFFFFFFFu}) {
    CUdpResponder refusing(std::string("\0\0", 2) + Le32(code));
    store_->m_loginServers.assign(
        1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(refusing.Port())));
    answers_.clear();
    RunJob(static_cast<WPARAM>(-1), 5000);
    ASSERT_EQ(answers_.size(), 1u);
    EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_REJECTED));
    EXPECT_EQ(static_cast<uint32_t>(answers_[0].w), code);
    EXPECT_EQ(answers_[0].l, kRejectedByServer) << code;
  }
}

TEST_F(LoginSocketTest, TooShortAnswerCountsAsNoAnswer) {
  CUdpResponder server(std::string("\0\0", 2) + Le32(0) + Str("x"));  // no login code
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(static_cast<WPARAM>(-1), 5000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].w, 1u);
  EXPECT_EQ(answers_[0].l, kRejectedNoAnswer);
  EXPECT_EQ(store_->m_loginCode, "old");
}

TEST_F(LoginSocketTest, SilentServerIsTriedFiveTimesThenTheLoginFailsWithOne) {
  const int port = SilentPort();
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(port)));
  const size_t before = Log().size();
  RunJob(static_cast<WPARAM>(-1), 15000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].w, 1u);
  EXPECT_EQ(answers_[0].l, kRejectedNoAnswer);
  std::string log = Log().substr(before);
  EXPECT_EQ(Count(log, "recv error: "), 5u) << log;
  EXPECT_EQ(Count(log, " UDP " + std::to_string(port) + " 端口发送数据失败. \r\n"), 1u);
  EXPECT_EQ(Count(log, " UDP 收发数据失败。\r\n"), 1u);
  EXPECT_EQ(Count(log, "登录服务器失败，可能是因为服务器离线.\r\n"), 1u);
}

TEST_F(LoginSocketTest, SilentAndUnresolvableServersAreSkippedAndTheThirdLogsIn) {
  CUdpResponder third("\x01\x02" + Le32(0) + Str("x") + Str("LC-3") + Le32(99) + Le32(0));
  const int silent = SilentPort();
  store_->m_loginServers = {CLoginSvr("127.0.0.1", static_cast<uint16_t>(silent)),
                            CLoginSvr("no-such-login.invalid", 8123),
                            CLoginSvr("127.0.0.1", static_cast<uint16_t>(third.Port()))};
  const size_t before = Log().size();
  RunJob(static_cast<WPARAM>(-1), 40000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].msg, static_cast<UINT>(WM_ACCOUNT_VERIFIED));
  EXPECT_EQ(store_->m_loginCode, "LC-3");
  EXPECT_FALSE(third.Requests().empty());
  std::string log = Log().substr(before);
  // Five tries at the silent one, then its port's line; the one that does not resolve is
  // named and its port's line follows; nothing of the failure lines once the third answers.
  // (The third may need a second try: the silent server's refusals can still be pending
  // on the socket.)
  size_t first = log.find(" UDP " + std::to_string(silent) + " 端口发送数据失败. \r\n");
  size_t named = log.find("no-such-login.invalid 域名解析失败！\r\n");
  size_t second = log.find(" UDP 8123 端口发送数据失败. \r\n");
  ASSERT_NE(first, std::string::npos) << log;
  ASSERT_NE(named, std::string::npos) << log;
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_EQ(Count(log.substr(0, first), "recv error: "), 5u) << log;
  EXPECT_LT(first, named);
  EXPECT_LT(named, second);
  EXPECT_EQ(Count(log, "端口发送数据失败"), 2u);
  EXPECT_EQ(Count(log, " UDP 收发数据失败。\r\n"), 0u);
  EXPECT_EQ(Count(log, "登录服务器失败"), 0u);
}

}  // namespace
