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
#include "client/test_support/stub_client.h"
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

class LoginSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    dir_ = MakeOfflineProgramDir("login");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(WriteFileBytes(dir_ + "\\Cache\\groups.xml",
                               "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<Data><Group name=\"g\">"
                               "<Server id=\"7\" name=\"a\" host=\"127.0.0.5\" credit=\"1\"/>"
                               "<Server id=\"8\" name=\"b\" host=\"127.0.0.6\" credit=\"1\"/>"
                               "</Group></Data>"));
    store_ = new CConfigStore(dir_ + "\\accelclient.exe");
    ASSERT_NE(store_->m_pWorker, nullptr);
    store_->m_accountUser = "\xD5\xC5\xC8\xFD";  // GBK "张三"
    store_->m_accountPassword = "Secret9";
    store_->m_loginCode = "old";
  }
  void TearDown() override {
    delete store_;
    WSACleanup();
  }

  void RunJob(WPARAM w, DWORD ms) {
    ASSERT_TRUE(store_->PostToWorker(WM_WORKER_CONNECT, w, window_.AsLParam()));
    PumpUntil([&] { return !answers_.empty(); }, ms);
  }
  std::string Log() {
    std::string bytes;
    ReadFileBytes(CRunLog::GetPath(), &bytes);
    return bytes;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  std::vector<MSG> answers_;
  CRecordingWindow window_{[this](UINT msg, WPARAM w, LPARAM l) {
    if (msg != WM_ACCOUNT_VERIFIED && msg != WM_ACCOUNT_REJECTED) return false;
    MSG m = {};
    m.message = msg;
    m.wParam = w;
    m.lParam = l;
    answers_.push_back(m);
    return true;
  }};
  std::string dir_;
  CConfigStore* store_ = nullptr;
};

TEST_F(LoginSocketTest, SuccessStoresTheAccountAndAnswersWithTheJobsWParam) {
  CUdpResponder server("\x01\x02" + Le32(0) + Str("x") + Str("LC-77") + Le32(99) + Le32(0));
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(static_cast<WPARAM>(-1), 5000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].message, static_cast<UINT>(WM_ACCOUNT_VERIFIED));
  EXPECT_EQ(answers_[0].wParam, static_cast<WPARAM>(-1));
  EXPECT_EQ(answers_[0].lParam, 0);
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
  EXPECT_EQ(answers_[0].message, static_cast<UINT>(WM_ACCOUNT_VERIFIED));
  EXPECT_EQ(answers_[0].wParam, 8u);
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
  EXPECT_EQ(answers_[0].message, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].wParam, 1234u);
  EXPECT_EQ(store_->m_loginCode, "old");
  EXPECT_NE(Log().find("登录失败，错误代码: 1234.\r\n"), std::string::npos);
}

TEST_F(LoginSocketTest, TooShortAnswerCountsAsNoAnswer) {
  CUdpResponder server(std::string("\0\0", 2) + Le32(0) + Str("x"));  // no login code
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(server.Port())));
  RunJob(static_cast<WPARAM>(-1), 5000);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].message, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].wParam, 1u);
  EXPECT_EQ(store_->m_loginCode, "old");
}

TEST_F(LoginSocketTest, SilentServerIsTriedFiveTimesThenTheLoginFailsWithOne) {
  // A port that was just free: nothing listens on it.
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  const int port = ntohs(a.sin_port);
  store_->m_loginServers.assign(1, CLoginSvr("127.0.0.1", static_cast<uint16_t>(port)));
  const size_t before = Log().size();
  RunJob(static_cast<WPARAM>(-1), 15000);

  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].message, static_cast<UINT>(WM_ACCOUNT_REJECTED));
  EXPECT_EQ(answers_[0].wParam, 1u);
  std::string log = Log().substr(before);
  EXPECT_EQ(Count(log, "recv error: "), 5u) << log;
  EXPECT_EQ(Count(log, " UDP " + std::to_string(port) + " 端口发送数据失败. \r\n"), 1u);
  EXPECT_EQ(Count(log, " UDP 收发数据失败。\r\n"), 1u);
  EXPECT_EQ(Count(log, "登录服务器失败，可能是因为服务器离线.\r\n"), 1u);
}

}  // namespace
