// The stand-in as tests and the client meet it: the real program started on free ports,
// spoken to over loopback, stopped with SIGTERM.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netsim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ShippedFile(const std::string& name) { return ReadWhole(std::string(SERVICE_STUB_DATA) + "/" + name); }

// Sends request as it stands and returns every byte the stand-in wrote until it closed.
std::string RawExchange(int port, const std::string& request) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    auto deadline = Clock::now() + std::chrono::seconds(10);
    char buf[4096];
    while (Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return got;
}

class StubRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/service_stub_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    record_ = dir_ + "/record.jsonl";
  }

  void TearDown() override {
    if (pid_ > 0) {
      EXPECT_EQ(Stop(), 0) << "the stand-in did not end cleanly on SIGTERM";
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  // Starts the program; with ready set, waits for its ports line. Returns the pid. The
  // program dies with this test's process: one killed in a test's own network namespace
  // must not stay behind holding it.
  pid_t Spawn(std::vector<std::string> args, bool ready = true) {
    args.insert(args.begin(), SERVICE_STUB_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
      // Only calls that are safe after a fork until the program runs.
      if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent || dup2(out[1], 1) < 0)
        _exit(127);
      execve(SERVICE_STUB_EXE, argv.data(), environ);
      _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
      close(out[0]);
      return -1;
    }
    output_.clear();
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      if (ready && output_.find('\n') != std::string::npos) break;
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      output_.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    return pid;
  }

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--list-port", "0", "--web-port", "0", "--login-port", "0",
                                     "--record", record_};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = Spawn(args);
    ASSERT_GT(pid_, 0);
    ASSERT_EQ(std::sscanf(output_.c_str(),
                          "service_stub: lists on 127.0.0.1:%d, pages on 127.0.0.1:%d, login on 127.0.0.1:%d",
                          &list_port_, &web_port_, &login_port_),
              3)
        << output_;
  }

  // Exit status after SIGTERM, or -1 when the program did not end within 10 seconds.
  int Stop() {
    kill(pid_, SIGTERM);
    int status = WaitExit(pid_, std::chrono::seconds(10));
    pid_ = -1;
    return status;
  }

  static int WaitExit(pid_t pid, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  httplib::Result Get(int port, const std::string& target, const httplib::Headers& headers = {}) {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(10, 0);
    c.set_url_encode(false);  // the target goes out exactly as written, like the client's
    return c.Get(target.c_str(), headers);
  }

  void Control(const std::string& path, const std::string& mode) {
    httplib::Client c("127.0.0.1", list_port_);
    auto r = c.Post("/_control", httplib::Params{{"path", path}, {"mode", mode}});
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
  }

  std::vector<std::string> RecordLines() {
    std::vector<std::string> lines;
    std::istringstream in(ReadWhole(record_));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string dir_, record_, output_;
  pid_t pid_ = -1;
  int list_port_ = 0, web_port_ = 0, login_port_ = 0;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(StubRun, ListsAreTheDataFilesByteForByte) {
  Start();
  struct {
    int port;
    const char* target;
    const char* file;
  } cases[] = {{list_port_, "/servers2.0.php", "servers.xml"},
               {list_port_, "/server_group.php", "groups.xml"},
               {list_port_, "/route.php?app_id=1", "route_1.xml"},
               {list_port_, "/route.php?app_id=5", "route_5.xml"},
               {list_port_, "/accel_apps.php", "apps.xml"},
               {web_port_, "/accel_apps.php", "apps.xml"}};  // the collector uses the default port
  for (const auto& c : cases) {
    auto r = Get(c.port, c.target, {{"Accept-Encoding", "gzip, deflate"}});
    ASSERT_TRUE(r) << c.target;
    EXPECT_EQ(r->status, 200) << c.target;
    EXPECT_EQ(r->body, ShippedFile(c.file)) << c.target;
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/xml");
    EXPECT_FALSE(r->has_header("Content-Encoding"));
  }
  // The shipped texts are GBK: "电信专线" as its four double-byte characters.
  EXPECT_TRUE(Has(ShippedFile("groups.xml"), "name=\"\xb5\xe7\xd0\xc5\xd7\xa8\xcf\xdf\""));
}

TEST_F(StubRun, RouteListsExistOnlyForDecimalGameIds) {
  Start();
  EXPECT_EQ(Get(list_port_, "/route.php?app_id=99")->status, 404);
  EXPECT_EQ(Get(list_port_, "/route.php?app_id=..%2Fservers")->status, 400);
  EXPECT_EQ(Get(list_port_, "/route.php")->status, 400);
}

TEST_F(StubRun, EachPortServesOnlyItsOwnEndpoints) {
  Start();
  EXPECT_EQ(Get(list_port_, "/new_index.php")->status, 404);
  EXPECT_EQ(Get(list_port_, "/report_ip.php")->status, 404);
  // A client that asks the pages port for a list gets a page, never the list.
  auto r = Get(web_port_, "/servers2.0.php");
  EXPECT_EQ(r->status, 200);
  EXPECT_TRUE(Has(r->body, "<h1>/servers2.0.php</h1>"));
  EXPECT_EQ(Get(web_port_, "/accelclient.rar")->status, 404);
  EXPECT_EQ(Get(web_port_, "/_control")->status, 404);
}

TEST_F(StubRun, PagesNameTheirPathQueryAndCookies) {
  Start();
  // uid "玩家甲" in GBK, as the client's cookie store sends it.
  auto r = Get(web_port_, "/new_index.php", {{"Cookie", "uid=\xcd\xe6\xbc\xd2\xbc\xd7; app=3"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=GBK");
  EXPECT_TRUE(Has(r->body, "<h1>/new_index.php</h1>"));
  EXPECT_TRUE(Has(r->body, "<li>uid=\xcd\xe6\xbc\xd2\xbc\xd7</li>\n<li>app=3</li>"));
  r = Get(web_port_, "/error.php?username=test01&errno=999&code=629&server=127.0.0.1");
  EXPECT_TRUE(Has(r->body, "<p>query: username=test01&amp;errno=999&amp;code=629&amp;server=127.0.0.1</p>"));
  EXPECT_TRUE(Has(r->body, "<p>no cookies</p>"));
  EXPECT_TRUE(Has(Get(web_port_, "/choice_guide.html")->body, "<h1>/choice_guide.html</h1>"));
}

TEST_F(StubRun, ReportsAreAnsweredOkAndRecordedAsSent) {
  Start();
  auto r = Get(web_port_, "/report_ip.php?appid=7&ip=10.1.2.3;10.1.2.4;&appid=9&ip=&");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "OK");
  // A report whose file could not be opened: the part header alone, no closing line break.
  const std::string boundary = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
  const std::string body = "--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"report\"; filename=\"C:\\v\\REPORT.TXT\"\r\n\r\n"
                           "--" + boundary + "\r\nContent-Disposition: form-data; name=\"userid\"\r\n\r\ntest01\r\n"
                           "--" + boundary + "--\r\n";
  httplib::Client c("127.0.0.1", web_port_);
  r = c.Post("/send_report.php", body, ("multipart/form-data; boundary=" + boundary).c_str());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "OK");

  std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(Has(lines[0], "\"query\":\"appid=7&ip=10.1.2.3;10.1.2.4;&appid=9&ip=&\""));
  EXPECT_TRUE(Has(lines[1], "\"method\":\"POST\""));
  EXPECT_TRUE(Has(lines[1], "[\"Content-Type\",\"multipart/form-data; boundary=" + boundary + "\"]"));
  EXPECT_TRUE(Has(lines[1], "\"body_size\":" + std::to_string(body.size())));
  EXPECT_TRUE(Has(lines[1], "filename=\\\"C:\\\\v\\\\REPORT.TXT\\\"\\r\\n\\r\\n----MULTI"));
  EXPECT_TRUE(Has(lines[1], "\\r\\n\\r\\ntest01\\r\\n----MULTI-PARTS-FORM-DATA-BOUNDARY--\\r\\n\""));
}

TEST_F(StubRun, DialUpCheckWantsUserNameAndLoginCode) {
  Start();
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=test01&pass=C0DE0001")->body, "OK");
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=%CD%E6%BC%D2%BC%D7&pass=C0DE0004")->body, "OK");
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=test01&pass=pass01")->body, "DENY");
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=test01&pass=C0DE0002")->body, "DENY");
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=nobody&pass=C0DE0001")->body, "DENY");
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=test01")->body, "DENY");
}

TEST_F(StubRun, RecordHoldsOneLinePerRequestWithPortAndHeaders) {
  Start();
  Get(list_port_, "/servers2.0.php");
  Get(web_port_, "/hot_games.php?x=%41", {{"Cookie", "uid=test01; app=2"}, {"User-Agent", "Mozilla/4.0 (compatible; )"}});
  Get(list_port_, "/nothing");
  std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"seq\":1,\"time\":\"", 0), 0u);
  EXPECT_TRUE(Has(lines[0], ",\"port\":" + std::to_string(list_port_) + ",\"role\":\"lists\",\"method\":\"GET\","
                            "\"target\":\"/servers2.0.php\",\"path\":\"/servers2.0.php\",\"query\":\"\""));
  EXPECT_TRUE(Has(lines[0], "\"body_size\":0,\"body\":\"\",\"status\":200,\"mode\":\"normal\"}"));
  EXPECT_EQ(lines[1].rfind("{\"seq\":2,", 0), 0u);
  EXPECT_TRUE(Has(lines[1], "\"port\":" + std::to_string(web_port_) + ",\"role\":\"pages\""));
  EXPECT_TRUE(Has(lines[1], "\"target\":\"/hot_games.php?x=%41\",\"path\":\"/hot_games.php\",\"query\":\"x=%41\""));
  EXPECT_TRUE(Has(lines[1], "[\"Cookie\",\"uid=test01; app=2\"]"));
  EXPECT_TRUE(Has(lines[1], "[\"User-Agent\",\"Mozilla/4.0 (compatible; )\"]"));
  EXPECT_FALSE(Has(lines[1], "REMOTE_ADDR"));
  EXPECT_TRUE(Has(lines[2], "\"status\":404"));
}

TEST_F(StubRun, ErrorModesHoldUntilSwitchedBack) {
  Start();
  Control("/servers2.0.php", "500");
  auto r = Get(list_port_, "/servers2.0.php");
  EXPECT_EQ(r->status, 500);
  EXPECT_EQ(Get(list_port_, "/server_group.php")->status, 200);  // other paths untouched
  Control("/servers2.0.php", "404");
  EXPECT_EQ(Get(list_port_, "/servers2.0.php")->status, 404);
  Control("/servers2.0.php", "normal");
  r = Get(list_port_, "/servers2.0.php");
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, ShippedFile("servers.xml"));

  std::string record = ReadWhole(record_);
  EXPECT_TRUE(Has(record, "\"path\":\"/servers2.0.php\",\"query\":\"\",\"headers\""));
  EXPECT_TRUE(Has(record, "\"status\":500,\"mode\":\"500\"}"));
  EXPECT_TRUE(Has(record, "\"status\":404,\"mode\":\"404\"}"));
}

TEST_F(StubRun, StarCoversEveryPathButTheControl) {
  Start();
  Control("*", "404");
  EXPECT_EQ(Get(list_port_, "/route.php?app_id=1")->status, 404);
  EXPECT_EQ(Get(web_port_, "/new_index.php")->status, 404);
  Control("/route.php", "500");
  EXPECT_EQ(Get(list_port_, "/route.php?app_id=1")->status, 500);
  auto listing = Get(list_port_, "/_control");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->body, "* 404\n/route.php 500\n");
  Control("*", "normal");
  Control("/route.php", "normal");
  EXPECT_EQ(Get(web_port_, "/new_index.php")->status, 200);
  EXPECT_EQ(Get(list_port_, "/_control")->body, "");
}

TEST_F(StubRun, ControlRefusesWhatItCannotDo) {
  Start();
  httplib::Client c("127.0.0.1", list_port_);
  EXPECT_EQ(c.Post("/_control", httplib::Params{{"path", "/x.php"}, {"mode", "teapot"}})->status, 400);
  EXPECT_EQ(c.Post("/_control", httplib::Params{{"path", "x.php"}, {"mode", "500"}})->status, 400);
  EXPECT_EQ(c.Post("/_control", httplib::Params{{"mode", "500"}})->status, 400);
  EXPECT_EQ(c.Delete("/_control")->status, 405);
  EXPECT_EQ(Get(list_port_, "/_control")->body, "");
}

TEST_F(StubRun, SlowModeAnswersWholeAfterTheDelay) {
  Start();
  Control("/route.php", "slow:700");
  auto start = Clock::now();
  auto r = Get(list_port_, "/route.php?app_id=2");
  auto took = Clock::now() - start;
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, ShippedFile("route_2.xml"));
  EXPECT_GE(took, std::chrono::milliseconds(700));
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(Has(ReadWhole(record_), "\"status\":200,\"mode\":\"slow:700\"}"));
}

TEST_F(StubRun, CutModePromisesTheWholeBodyAndSendsHalf) {
  Start();
  Control("/server_group.php", "cut");
  const std::string file = ShippedFile("groups.xml");
  std::string got = RawExchange(list_port_, "GET /server_group.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                            "Accept-Encoding: gzip\r\n\r\n");
  size_t head_end = got.find("\r\n\r\n");
  ASSERT_NE(head_end, std::string::npos) << got;
  std::string head = got.substr(0, head_end);
  EXPECT_EQ(head.rfind("HTTP/1.1 200 ", 0), 0u);
  EXPECT_TRUE(Has(head, "Content-Length: " + std::to_string(file.size()) + "\r\n"));
  EXPECT_FALSE(Has(head, "Content-Encoding"));
  EXPECT_EQ(got.substr(head_end + 4), file.substr(0, file.size() / 2));
  auto r = Get(list_port_, "/server_group.php");
  EXPECT_FALSE(r);  // the library's client sees the short body as a failed read
}

TEST_F(StubRun, DropModeClosesWithoutAnyAnswer) {
  Start();
  Control("/send_report.php", "drop");
  EXPECT_EQ(RawExchange(web_port_, "POST /send_report.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                   "Content-Length: 3\r\n\r\nabc"),
            "");
  EXPECT_TRUE(Has(ReadWhole(record_), "\"body_size\":3,\"body\":\"abc\",\"status\":0,\"mode\":\"drop\"}"));
  EXPECT_EQ(Get(web_port_, "/report_ip.php")->body, "OK");  // the stand-in itself goes on
}

TEST_F(StubRun, FaultFlagsHoldFromTheStart) {
  Start({"--fault", "/servers2.0.php=500", "--fault=/route.php=drop"});
  EXPECT_EQ(Get(list_port_, "/servers2.0.php")->status, 500);
  EXPECT_FALSE(Get(list_port_, "/route.php?app_id=1"));
  EXPECT_EQ(Get(list_port_, "/server_group.php")->status, 200);
}

TEST_F(StubRun, DataDirectoryIsReadAfreshForEveryRequest) {
  std::string data = dir_ + "/data";
  ASSERT_EQ(mkdir(data.c_str(), 0755), 0);
  WriteWhole(data + "/servers.xml", "<Data/>");
  Start({"--data", data});
  EXPECT_EQ(Get(list_port_, "/servers2.0.php")->body, "<Data/>");
  WriteWhole(data + "/servers.xml", "<Data><Apps/></Data>");
  EXPECT_EQ(Get(list_port_, "/servers2.0.php")->body, "<Data><Apps/></Data>");
  EXPECT_EQ(Get(list_port_, "/server_group.php")->status, 404);
  EXPECT_EQ(Get(web_port_, "/vpn_auth.php?user=test01&pass=C0DE0001")->body, "DENY");
}

TEST_F(StubRun, SigtermEndsCleanlyEvenDuringASlowAnswerAndRemovesThePidFile) {
  std::string pidfile = dir_ + "/stub.pid";
  Start({"--pidfile", pidfile, "--fault", "/servers2.0.php=slow:60000"});
  EXPECT_EQ(ReadWhole(pidfile), std::to_string(pid_) + "\n");
  std::thread waiting([&] { Get(list_port_, "/servers2.0.php"); });
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (RecordLines().empty() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(RecordLines().size(), 1u);
  auto start = Clock::now();
  EXPECT_EQ(Stop(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  waiting.join();
  EXPECT_NE(access(pidfile.c_str(), F_OK), 0);
}

TEST_F(StubRun, CommandLineMistakesEndTheProgramWithoutServing) {
  pid_t pid = Spawn({"--help"}, false);
  EXPECT_EQ(WaitExit(pid, std::chrono::seconds(10)), 0);
  EXPECT_EQ(output_.rfind("usage: service_stub", 0), 0u);
  EXPECT_EQ(WaitExit(Spawn({"--bogus"}, false), std::chrono::seconds(10)), 2);
  EXPECT_EQ(WaitExit(Spawn({"--data", dir_ + "/missing"}, false), std::chrono::seconds(10)), 1);
  // It may run as root: no output file through a link, no pid file over an existing one.
  const std::string elsewhere = dir_ + "/elsewhere", link = dir_ + "/link";
  WriteWhole(elsewhere, "kept\n");
  ASSERT_EQ(symlink(elsewhere.c_str(), link.c_str()), 0);
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"--record", link}, {"--pidfile", link}, {"--pidfile", elsewhere}}) {
    std::vector<std::string> args = {"--list-port", "0", "--web-port", "0", "--login-port", "0"};
    args.insert(args.end(), wrong.begin(), wrong.end());
    EXPECT_EQ(WaitExit(Spawn(args, false), std::chrono::seconds(10)), 1) << wrong[0] << " " << wrong[1];
  }
  EXPECT_EQ(ReadWhole(elsewhere), "kept\n");
  // A port that is taken is an error, not a silent second listener.
  Start();
  EXPECT_EQ(WaitExit(Spawn({"--list-port", std::to_string(list_port_), "--web-port", "0"}, false),
                     std::chrono::seconds(10)),
            1);
}

// The login request as the client builds it: header, then four strings of a big-endian
// length each.
std::string LoginRequest(const std::string& user, const std::string& password,
                         const std::string& line_host = "127.0.0.1",
                         const std::string& host_id = "00163E0A0B0C") {
  std::string q("\x03\x01\x01", 3);
  q.append(12, '\0');  // request number and the two reserved numbers
  for (const std::string* s : {&host_id, &user, &password, &line_host}) {
    q.push_back(static_cast<char>(s->size() >> 8));
    q.push_back(static_cast<char>(s->size() & 0xFF));
    q += *s;
  }
  return q;
}

// Sends one datagram from a socket of its own and returns the answer, or "" when none
// came within wait.
std::string LoginExchange(int port, const std::string& datagram,
                          std::chrono::milliseconds wait = std::chrono::milliseconds(3000)) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got;
  if (sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr) ==
      static_cast<ssize_t>(datagram.size())) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) > 0) {
      char buf[2048];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n > 0) got.assign(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return got;
}

// The result code of an answer (little-endian at offset 2), or -1 for a short answer.
long ResultOf(const std::string& answer) {
  if (answer.size() < 6) return -1;
  unsigned long v = 0;
  for (int i = 5; i >= 2; --i) v = (v << 8) | static_cast<unsigned char>(answer[i]);
  return static_cast<long>(v);
}

const char kGbkUser[] = "\xcd\xe6\xbc\xd2\xbc\xd7";  // "玩家甲"

TEST_F(StubRun, LoginAnswersAGbkAccountByteForByteAndRecordsTheRequest) {
  Start();
  std::string answer = LoginExchange(login_port_, LoginRequest(kGbkUser, "mima123", "10.0.0.7"));
  const std::string expected("\x03\x01"
                             "\x00\x00\x00\x00"                  // success
                             "\x00\x02OK"
                             "\x00\x08" "C0DE0004"
                             "\x63\x00\x00\x00"                  // 99: paid
                             "\x00\x0c\xbd\x72",                 // 1924992000
                             28);
  EXPECT_EQ(answer, expected);

  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  EXPECT_TRUE(Has(line, "\"port\":" + std::to_string(login_port_) + ",\"role\":\"login\",\"method\":\"UDP\""))
      << line;
  EXPECT_TRUE(Has(line, "\"user\":\"\\u00cd\\u00e6\\u00bc\\u00d2\\u00bc\\u00d7\"")) << line;
  EXPECT_TRUE(Has(line, "\"password\":\"mima123\",\"line_host\":\"10.0.0.7\",\"result\":0")) << line;
  EXPECT_TRUE(Has(line, "\"host_id\":\"00163E0A0B0C\"")) << line;
  // The raw datagram, header bytes escaped like any body.
  EXPECT_TRUE(Has(line, "\"body_size\":56,\"body\":\"\\u0003\\u0001\\u0001\\u0000")) << line;
  EXPECT_TRUE(Has(line, "\"status\":0,\"mode\":\"normal\"")) << line;
}

TEST_F(StubRun, LoginRefusesWrongPasswordsAndUnknownUsersButNotExpiredAccounts) {
  Start();
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, LoginRequest("test01", "PASS01"))), 3);  // case counts
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, LoginRequest("test01", ""))), 3);
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, LoginRequest("nobody", "pass01"))), 2);
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, LoginRequest("", ""))), 2);
  // The login code is no password.
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, LoginRequest("test02", "C0DE0002"))), 3);
  std::string expired = LoginExchange(login_port_, LoginRequest("expired", "pass03"));
  EXPECT_EQ(ResultOf(expired), 0);
  EXPECT_TRUE(Has(expired, std::string("\x00\x08" "C0DE0003\x01\x00\x00\x00", 14)));
  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(Has(lines[2], "\"result\":2}")) << lines[2];
}

TEST_F(StubRun, MalformedLoginDatagramsGetNoAnswerAndAreRecorded) {
  Start();
  const auto quick = std::chrono::milliseconds(300);
  std::string good = LoginRequest("test01", "pass01");
  std::string wrong_command = good;
  wrong_command[1] = 2;
  std::string overlong = good;
  overlong[15] = '\x7f';  // host id claims far more bytes than the datagram has
  const std::string bad[] = {std::string(1, '\x03'), good.substr(0, 14), good.substr(0, 15),
                             good.substr(0, good.size() - 1), good + "x", wrong_command, overlong};
  for (const std::string& datagram : bad) {
    EXPECT_EQ(LoginExchange(login_port_, datagram, quick), "") << datagram.size();
  }
  // The listener lives on after all of them.
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, good)), 0);
  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 8u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_TRUE(Has(lines[i], "\"status\":-1,\"mode\":\"normal\",\"login\":null,\"error\":")) << lines[i];
  }
  EXPECT_TRUE(Has(lines[4], "\"error\":\"trailing bytes\"")) << lines[4];
}

TEST_F(StubRun, LoginFaultModesSilenceDelayOrFailTheAnswer) {
  Start({"--fault", "login=drop"});
  std::string request = LoginRequest("test01", "pass01");
  EXPECT_EQ(LoginExchange(login_port_, request, std::chrono::milliseconds(500)), "");
  Control("login", "500");
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, request)), 500);
  Control("login", "slow:400");
  auto start = Clock::now();
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, request)), 0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
  Control("login", "cut");
  std::string cut = LoginExchange(login_port_, request);
  EXPECT_EQ(cut.size(), 14u);  // half of the 28-byte answer
  // A page rule leaves the datagrams alone, and back to normal gives the real answer.
  Control("/servers2.0.php", "drop");
  Control("login", "normal");
  EXPECT_EQ(ResultOf(LoginExchange(login_port_, request)), 0);

  auto lines = RecordLines();
  std::vector<std::string> login_lines;
  for (const auto& l : lines) {
    if (Has(l, "\"role\":\"login\"")) login_lines.push_back(l);
  }
  ASSERT_EQ(login_lines.size(), 5u);
  EXPECT_TRUE(Has(login_lines[0], "\"status\":-1,\"mode\":\"drop\"")) << login_lines[0];
  EXPECT_TRUE(Has(login_lines[1], "\"status\":500,\"mode\":\"500\"")) << login_lines[1];
  EXPECT_TRUE(Has(login_lines[2], "\"mode\":\"slow:400\"")) << login_lines[2];
}

TEST_F(StubRun, ATakenLoginPortIsAnError) {
  Start();
  EXPECT_EQ(WaitExit(Spawn({"--list-port", "0", "--web-port", "0", "--login-port",
                            std::to_string(login_port_)},
                           false),
                     std::chrono::seconds(10)),
            1);
}


// The simulated network as a run meets it, as root: refused in the host's namespace (asked
// in this process: a stand-in started there to see it refuse would, were the refusal
// broken, make its devices and routes in the host's network), and inside a namespace of
// this test's own (entered by this thread only, and left again, so the namespace ends with
// the stand-in) the PC's link, the routing table that answers as Windows does, the tunnel
// and the echo of a game datagram through it.
TEST_F(StubRun, NetsimHoldsTheNetworkOfANamespaceOfItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces and tun devices";
  Start();
  EXPECT_EQ(Get(web_port_, "/_routes")->status, 404);
  EXPECT_EQ(Get(web_port_, "/_tunnel?up=10.8.0.2&server=10.8.0.1")->status, 404);
  EXPECT_EQ(Stop(), 0);
  std::string why;
  EXPECT_FALSE(stub::InOwnNetworkNamespace(&why));
  EXPECT_TRUE(Has(why, "host's network namespace")) << why;

  int host_ns = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(host_ns, 0);
  ASSERT_EQ(unshare(CLONE_NEWNET), 0);
  struct BackToHost {
    int fd;
    ~BackToHost() {
      EXPECT_EQ(setns(fd, CLONE_NEWNET), 0);
      close(fd);
    }
  } back{host_ns};
  EXPECT_TRUE(stub::InOwnNetworkNamespace(&why)) << why;

  // Output files are never opened through a link, here where the stand-in runs as root.
  const std::string packets = dir_ + "/packets.jsonl";
  const std::string elsewhere = dir_ + "/elsewhere";
  WriteWhole(elsewhere, "kept\n");
  ASSERT_EQ(symlink(elsewhere.c_str(), packets.c_str()), 0);
  EXPECT_EQ(WaitExit(Spawn({"--netsim", "--packets", packets, "--list-port", "0", "--web-port", "0",
                            "--login-port", "0"},
                           false),
                     std::chrono::seconds(10)),
            1);
  EXPECT_EQ(ReadWhole(elsewhere), "kept\n");
  ASSERT_EQ(unlink(packets.c_str()), 0);
  Start({"--netsim", "--packets", packets});
  EXPECT_TRUE(Has(output_, ", simulated network: lan0 198.18.0.2 peer 198.18.0.1")) << output_;
  auto routes = [&] { return Get(web_port_, "/_routes")->body; };
  std::string table = routes();
  EXPECT_TRUE(Has(table, "0.0.0.0/0 198.18.0.1 lan0\n")) << table;
  EXPECT_TRUE(Has(table, "198.18.0.1/32 0.0.0.0 lan0\n")) << table;
  unsigned lan = if_nametoindex("lan0");
  ASSERT_GT(lan, 0u);
  auto route = [&](const char* dest, const char* nexthop, unsigned ifindex, const char* mask = "255.255.255.0") {
    auto r = Get(web_port_, std::string("/_route?dest=") + dest + "&mask=" + mask + "&nexthop=" + nexthop +
                                "&ifindex=" + std::to_string(ifindex) + "&metric=1");
    return r ? std::to_string(r->status) + " " + r->body : std::string("no answer");
  };
  EXPECT_EQ(route("198.19.0.0", "198.18.0.1", lan), "200 0");
  EXPECT_EQ(route("198.19.0.0", "198.18.0.1", lan), "200 5010");
  EXPECT_EQ(route("198.19.1.1", "198.18.0.1", lan), "200 87");
  EXPECT_EQ(route("198.19.2.0", "198.18.0.1", 9999), "200 87");
  EXPECT_EQ(route("198.51.100.0", "198.18.0.2", lan), "200 0");  // own address: on-link
  EXPECT_EQ(route("203.0.113.0", "10.99.0.1", lan), "200 2");    // no way to that gateway
  table = routes();
  EXPECT_TRUE(Has(table, "198.19.0.0/24 198.18.0.1 lan0\n")) << table;
  EXPECT_TRUE(Has(table, "198.51.100.0/24 0.0.0.0 lan0\n")) << table;
  EXPECT_FALSE(Has(table, "203.0.113.0")) << table;

  EXPECT_EQ(Get(web_port_, "/_tunnel?up=10.8.0.2&server=10.8.0.1")->body, "OK");
  unsigned ppp = if_nametoindex("ppp0");
  ASSERT_GT(ppp, 0u);
  EXPECT_EQ(route("192.0.2.0", "10.8.0.2", ppp), "200 0");
  table = routes();
  EXPECT_TRUE(Has(table, "10.8.0.1/32 0.0.0.0 ppp0\n")) << table;
  EXPECT_TRUE(Has(table, "192.0.2.0/24 0.0.0.0 ppp0\n")) << table;

  // A game datagram through the tunnel comes back from the game server's address.
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in game{};
  game.sin_family = AF_INET;
  game.sin_port = htons(7777);
  inet_pton(AF_INET, "192.0.2.10", &game.sin_addr);
  const std::string payload = "game datagram 1";
  ASSERT_EQ(sendto(sock, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&game), sizeof game),
            static_cast<ssize_t>(payload.size()));
  sockaddr_in local{}, from{};
  socklen_t local_len = sizeof local, from_len = sizeof from;
  getsockname(sock, reinterpret_cast<sockaddr*>(&local), &local_len);
  pollfd p{sock, POLLIN, 0};
  char echo[256] = "";
  ssize_t n = poll(&p, 1, 5000) > 0
                  ? recvfrom(sock, echo, sizeof echo, 0, reinterpret_cast<sockaddr*>(&from), &from_len)
                  : -1;
  close(sock);
  EXPECT_EQ(std::string(echo, n > 0 ? static_cast<size_t>(n) : 0), payload);
  EXPECT_EQ(from.sin_addr.s_addr, game.sin_addr.s_addr);
  EXPECT_EQ(from.sin_port, game.sin_port);
  EXPECT_TRUE(Has(ReadWhole(packets), "\"if\":\"ppp0\",\"src\":\"10.8.0.2\",\"dst\":\"192.0.2.10\",\"proto\":\"udp\","
                                      "\"sport\":" + std::to_string(ntohs(local.sin_port)) +
                                          ",\"dport\":7777,\"size\":43}"))
      << ReadWhole(packets);

  // Another VPN: a PPP link (what Wine reports as type 23) with the halves of the default
  // route and a more specific route into the game's network, which takes the datagram away
  // from the tunnel and records it there; down takes the link and its routes away.
  EXPECT_EQ(Get(web_port_, "/_vpn?up=10.9.0.2&peer=10.9.0.1&net=192.0.2.1/24")->status, 500);
  EXPECT_EQ(Get(web_port_, "/_vpn?up=10.9.0.2&peer=10.9.0.1&halves=1&net=192.0.2.0/25")->body, "OK");
  {
    // The link type as /sys/class/net/vpn0/type shows it to a process that mounted sysfs
    // in this namespace, as Wine's does.
    int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "vpn0", IFNAMSIZ - 1);
    EXPECT_EQ(ioctl(probe, SIOCGIFHWADDR, &ifr), 0);
    EXPECT_EQ(ifr.ifr_hwaddr.sa_family, 512);  // ARPHRD_PPP
    close(probe);
  }
  EXPECT_EQ(Get(web_port_, "/_vpn?up=10.9.0.3&peer=10.9.0.1")->status, 500);
  table = routes();
  EXPECT_TRUE(Has(table, "0.0.0.0/1 0.0.0.0 vpn0\n")) << table;
  EXPECT_TRUE(Has(table, "128.0.0.0/1 0.0.0.0 vpn0\n")) << table;
  EXPECT_TRUE(Has(table, "192.0.2.0/25 0.0.0.0 vpn0\n")) << table;
  sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  ASSERT_EQ(sendto(sock, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&game), sizeof game),
            static_cast<ssize_t>(payload.size()));
  p = pollfd{sock, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 5000), 1) << "the other VPN's far end does not echo";
  close(sock);
  EXPECT_TRUE(Has(ReadWhole(packets), "\"if\":\"vpn0\",\"src\":\"10.9.0.2\",\"dst\":\"192.0.2.10\""))
      << ReadWhole(packets);
  EXPECT_EQ(Get(web_port_, "/_vpn?down")->body, "OK");
  EXPECT_EQ(if_nametoindex("vpn0"), 0u);
  EXPECT_FALSE(Has(routes(), "vpn0"));

  // Down removes only the tunnel of that address, and every route through it goes with it.
  EXPECT_EQ(Get(web_port_, "/_tunnel?down=10.8.0.9")->body, "OK");
  EXPECT_GT(if_nametoindex("ppp0"), 0u);
  EXPECT_EQ(Get(web_port_, "/_tunnel?down=10.8.0.2")->body, "OK");
  EXPECT_EQ(if_nametoindex("ppp0"), 0u);
  table = routes();
  EXPECT_FALSE(Has(table, "ppp0")) << table;
  EXPECT_TRUE(Has(table, "0.0.0.0/0 198.18.0.1 lan0\n")) << table;
  // The next connection's tunnel is an interface of its own; a dropped line goes by itself.
  EXPECT_EQ(Get(web_port_, "/_tunnel?up=10.8.0.3&server=10.8.0.1&drop_ms=300")->body, "OK");
  EXPECT_GT(if_nametoindex("ppp1"), 0u);
  EXPECT_NE(if_nametoindex("ppp1"), ppp);
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (if_nametoindex("ppp1") != 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(if_nametoindex("ppp1"), 0u);
  EXPECT_EQ(Get(web_port_, "/_tunnel?up=10.8.0.x&server=10.8.0.1")->status, 500);
  EXPECT_EQ(Stop(), 0);

  // A stand-in started here dies with the process that started it: a killed test leaves
  // nothing holding its namespace. A helper process starts one, which is then seen to end
  // when the helper is killed.
  int ready[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  pid_t helper = fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {
    pid_t stand_in = Spawn({"--netsim", "--list-port", "0", "--web-port", "0", "--login-port", "0"});
    if (output_.find("simulated network") == std::string::npos) stand_in = -1;
    (void)!write(ready[1], &stand_in, sizeof stand_in);
    pause();
    _exit(0);
  }
  close(ready[1]);
  pid_t stand_in = -1;
  pollfd wait_ready{ready[0], POLLIN, 0};
  if (poll(&wait_ready, 1, 20000) > 0) (void)!read(ready[0], &stand_in, sizeof stand_in);
  close(ready[0]);
  int stand_in_fd = stand_in > 0 ? static_cast<int>(syscall(SYS_pidfd_open, stand_in, 0)) : -1;
  kill(helper, SIGKILL);
  waitpid(helper, nullptr, 0);
  ASSERT_GE(stand_in_fd, 0) << "the helper's stand-in did not start";
  pollfd ended{stand_in_fd, POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 5000), 1) << "the stand-in outlived the process that started it";
  if (ended.revents == 0) kill(stand_in, SIGKILL);
  close(stand_in_fd);
}

}  // namespace
