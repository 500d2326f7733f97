// The stand-in as tests and the client meet it: the real program started on free ports,
// spoken to over loopback, stopped with SIGTERM.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

  // Starts the program; with ready set, waits for its ports line. Returns the pid.
  pid_t Spawn(std::vector<std::string> args, bool ready = true) {
    args.insert(args.begin(), SERVICE_STUB_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, SERVICE_STUB_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
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
    std::vector<std::string> args = {"--list-port", "0", "--web-port", "0", "--record", record_};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = Spawn(args);
    ASSERT_GT(pid_, 0);
    ASSERT_EQ(std::sscanf(output_.c_str(), "service_stub: lists on 127.0.0.1:%d, pages on 127.0.0.1:%d",
                          &list_port_, &web_port_),
              2)
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
  int list_port_ = 0, web_port_ = 0;
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
  // A port that is taken is an error, not a silent second listener.
  Start();
  EXPECT_EQ(WaitExit(Spawn({"--list-port", std::to_string(list_port_), "--web-port", "0"}, false),
                     std::chrono::seconds(10)),
            1);
}

}  // namespace
