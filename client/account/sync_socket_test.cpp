#include "client/account/sync_socket.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "common/run_log.h"

#include <fstream>
#include <sstream>
#include <string>

namespace {

// "域名解析失败！" in GBK.
const std::string kUnresolved = "\xD3\xF2\xC3\xFB\xBD\xE2\xCE\xF6\xCA\xA7\xB0\xDC\xA3\xA1\r\n";

// A socket of its own bound to 127.0.0.1 on a free port; a stream socket also listens.
struct Loopback {
  explicit Loopback(int type) {
    sock.Create(AF_INET, type, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    bind(sock.Handle(), reinterpret_cast<sockaddr*>(&a), len);
    getsockname(sock.Handle(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (type == SOCK_STREAM) listen(sock.Handle(), 4);
  }
  // The address the next queued connection came from, or "" when none came.
  std::string Accept(SOCKET* out = nullptr) {
    if (sock.WaitReadable(2000) <= 0) return "";
    sockaddr_in peer = {};
    int len = sizeof peer;
    SOCKET s = accept(sock.Handle(), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET) return "";
    if (out) *out = s; else closesocket(s);
    return inet_ntoa(peer.sin_addr);
  }
  CSyncSocket sock;
  int port = 0;
};

class SyncSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    path_ = std::string(dir) + "sync_socket_test_" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path_.c_str());
    CRunLog::SetPath(path_.c_str());
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  // The log without the time prefixes, one text after another.
  std::string Log() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str(), out;
    for (size_t at = 0; (at = all.find("] ", at)) != std::string::npos;) {
      size_t end = all.find("\r\n", at);
      out += all.substr(at + 2, end + 2 - at - 2);
      at = end;
    }
    return out;
  }

  std::string path_;
};

TEST_F(SyncSocketTest, ReceiveGivesUpAfterTheTimeOut) {
  Loopback quiet(SOCK_DGRAM);
  char buf[16];
  DWORD start = GetTickCount();
  EXPECT_EQ(quiet.sock.Receive(buf, sizeof buf, 0, 2000), 0);
  DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 1900u);
  EXPECT_LT(took, 3500u);
}

TEST_F(SyncSocketTest, SendToReachesAddressesAndNamesButNeverAnUnresolvedOne) {
  Loopback receiver(SOCK_DGRAM);
  CSyncSocket sender;
  ASSERT_NE(sender.Create(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  char buf[16] = {};
  EXPECT_EQ(sender.SendTo("login", 5, receiver.port, "127.0.0.1", 0), 1);
  ASSERT_EQ(receiver.sock.Receive(buf, sizeof buf, 0, 2000), 5);
  EXPECT_EQ(std::string(buf, 5), "login");

  EXPECT_EQ(sender.SendTo("named", 5, receiver.port, "localhost", 0), 1);
  ASSERT_EQ(receiver.sock.Receive(buf, sizeof buf, 0, 2000), 5);
  EXPECT_EQ(std::string(buf, 5), "named");

  // Without a destination nothing may go out, not even to 0.0.0.0 of this machine.
  for (const char* host : {"nohost.invalid", ""}) {
    WSASetLastError(0);
    EXPECT_EQ(sender.SendTo("lost", 4, receiver.port, host, 0), 0) << host;
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL) << host;
  }
  EXPECT_EQ(receiver.sock.Receive(buf, sizeof buf, 0, 300), 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(SyncSocketTest, ConnectToANameThatDoesNotResolveLogsIt) {
  CSyncSocket s;
  s.Create(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(s.Connect("nohost.invalid", 80, 2000), 0);
  EXPECT_EQ(s.Connect("", 80, 2000), 0);
  // A name from the list that would forge a log line of its own.
  EXPECT_EQ(s.Connect("no.invalid\r\n\x01x", 80, 2000), 0);
  EXPECT_EQ(Log(), "nohost.invalid " + kUnresolved + " " + kUnresolved + "no.invalid???x " +
                       kUnresolved);
}

TEST_F(SyncSocketTest, ConnectTakesDigitHostsAsInetAddrReadsThem) {
  Loopback server(SOCK_STREAM);
  for (const char* host : {"127.0.0.1", "127.1", "2130706433"}) {
    CSyncSocket s;
    s.Create(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(s.Connect(host, server.port, 2000), 1) << host;
    EXPECT_EQ(server.Accept(), "127.0.0.1") << host;
  }
  // Not an address at all, yet no name lookup either: inet_addr makes 255.255.255.255 of
  // it, and a datagram socket may not take the broadcast address as its peer. Nothing is sent.
  CSyncSocket s;
  s.Create(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(s.Connect("1abc", server.port, 0), 0);
  EXPECT_EQ(Log(), "Connect(connect) 1abc:" + std::to_string(server.port) + " error, sock(" +
                       std::to_string(static_cast<int>(s.Handle())) + "), errorCode=10013\r\n");
}

TEST_F(SyncSocketTest, RefusedConnectIsAFailure) {
  int port;
  {
    Loopback closed(SOCK_STREAM);  // a port that was free a moment ago and is closed now
    port = closed.port;
  }
  CSyncSocket client;
  client.Create(AF_INET, SOCK_STREAM, 0);
  DWORD start = GetTickCount();
  EXPECT_EQ(client.Connect("127.0.0.1", port, 3000), 0);
  EXPECT_LT(GetTickCount() - start, 2000u);  // refused at once, not left to the time-out
  EXPECT_EQ(Log(), "Connect(connect) 127.0.0.1:" + std::to_string(port) + " error, sock(" +
                       std::to_string(static_cast<int>(client.Handle())) + "), errorCode=10061\r\n");
}

TEST_F(SyncSocketTest, DatagramConnectWithoutTimeOutSucceedsAtOnce) {
  Loopback receiver(SOCK_DGRAM);
  CSyncSocket s;
  EXPECT_EQ(s.Connect("127.0.0.1", receiver.port, 0), 0);  // no socket yet
  s.Create(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(s.Connect("127.0.0.1", receiver.port, 0), 1);
  EXPECT_EQ(s.Send("req", 3, 0), 3);
  char buf[8];
  EXPECT_EQ(receiver.sock.Receive(buf, sizeof buf, 0, 2000), 3);
  EXPECT_EQ(Log(), "");
}

TEST_F(SyncSocketTest, ConnectedStreamStaysNonBlockingAndCreateClosesIt) {
  Loopback server(SOCK_STREAM);
  CSyncSocket client;
  client.Create(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(client.Connect("127.0.0.1", server.port, 2000), 1);
  SOCKET peer = INVALID_SOCKET;
  ASSERT_EQ(server.Accept(&peer), "127.0.0.1");
  char buf[8];
  EXPECT_EQ(client.Receive(buf, sizeof buf, 0, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(send(peer, "pong", 4, 0), 4);
  EXPECT_EQ(client.Receive(buf, sizeof buf, 0, 2000), 4);

  EXPECT_NE(client.Create(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 0);  // the replaced connection was closed
  closesocket(peer);
  EXPECT_EQ(client.Create(12345, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(client.Handle(), INVALID_SOCKET);
  EXPECT_EQ(Log(), "");
}

// Winsock is not started while no object lives: each object gives back exactly its own
// start-up however often it is closed.
TEST_F(SyncSocketTest, CloseGivesBackTheStartUpExactlyOnce) {
  auto winsockStarted = [] {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s == INVALID_SOCKET) return WSAGetLastError() != WSANOTINITIALISED;
    closesocket(s);
    return true;
  };
  ASSERT_FALSE(winsockStarted());
  {
    CSyncSocket never;  // handle -1 throughout
    EXPECT_TRUE(winsockStarted());
  }
  EXPECT_FALSE(winsockStarted());
  {
    CSyncSocket a, b;
    a.Create(AF_INET, SOCK_DGRAM, 0);
    a.Close();
    a.Close();
    EXPECT_NE(b.Create(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
    b.Close();
    EXPECT_FALSE(winsockStarted());
    // A closed object may be used again: it starts Winsock anew.
    EXPECT_NE(a.Create(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  }
  EXPECT_FALSE(winsockStarted());
}

}  // namespace
