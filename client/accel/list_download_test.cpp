// Downloads of the service's lists, against the local service stand-in.
#include "client/accel/list_download.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

const char kEarlier[] = "<Data><Group name=\"earlier\"><Server id=\"42\" name=\"kept\"/></Group></Data>\r\n";

class ListDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("dl");
    ASSERT_FALSE(dir_.empty());
    target_ = dir_ + "\\groups.xml";
  }
  void TearDown() override {
    SetStubMode("/server_group.php", "normal");
    SetStubMode("/servers2.0.php", "normal");
  }

  // The stand-in's answer, fetched beside the client's download.
  std::string Served(const std::string& path) {
    std::string body;
    EXPECT_EQ(200, HttpRequest(kStubListPort, "GET", path, "", &body));
    return body;
  }

  // The stand-in's record of its last answer for the path: the failure really happened
  // there, and not somewhere before the request.
  void ExpectAnsweredWithMode(const std::string& path, const std::string& mode) {
    std::string last = LastStubRecord("target", path);
    EXPECT_EQ(mode, RecordString(last, "mode")) << last;
  }

  void ExpectEarlierCopyKept() {
    std::string now;
    ASSERT_TRUE(ReadFileBytes(target_, &now));
    EXPECT_EQ(kEarlier, now);
    EXPECT_FALSE(FileExists(target_ + ".tmp"));
  }

  std::string dir_;
  std::string target_;
};

TEST_F(ListDownload, LandsInTheTargetFile) {
  std::string served = Served("/server_group.php");
  ASSERT_FALSE(served.empty());
  ASSERT_TRUE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
  std::string got;
  ASSERT_TRUE(ReadFileBytes(target_, &got));
  EXPECT_EQ(served, got);
  EXPECT_FALSE(FileExists(target_ + ".tmp"));
}

TEST_F(ListDownload, ReplacesAnEarlierCopyWhenComplete) {
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  ASSERT_TRUE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
  std::string got;
  ASSERT_TRUE(ReadFileBytes(target_, &got));
  EXPECT_EQ(Served("/server_group.php"), got);
}

TEST_F(ListDownload, ServiceDownKeepsTheEarlierCopy) {
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  // Nothing listens on this loopback address.
  EXPECT_FALSE(DownloadListFile("http://127.0.0.2:8080/server_group.php", target_, "Data"));
  ExpectEarlierCopyKept();
}

TEST_F(ListDownload, ErrorAnswersKeepTheEarlierCopy) {
  for (const char* mode : {"500", "404"}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
    ASSERT_TRUE(SetStubMode("/server_group.php", mode));
    EXPECT_FALSE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
    ExpectAnsweredWithMode("/server_group.php", mode);
    ExpectEarlierCopyKept();
  }
}

TEST_F(ListDownload, CutBodyKeepsTheEarlierCopy) {
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  ASSERT_TRUE(SetStubMode("/server_group.php", "cut"));
  EXPECT_FALSE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
  ExpectAnsweredWithMode("/server_group.php", "cut");
  ExpectEarlierCopyKept();
}

TEST_F(ListDownload, DroppedConnectionKeepsTheEarlierCopy) {
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  ASSERT_TRUE(SetStubMode("/server_group.php", "drop"));
  EXPECT_FALSE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
  ExpectAnsweredWithMode("/server_group.php", "drop");
  ExpectEarlierCopyKept();
}

TEST_F(ListDownload, PageThatIsNotAListKeepsTheEarlierCopy) {
  // The pages port answers 200 with an HTML page for any .php path, as a captive portal
  // or a maintenance page would.
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  EXPECT_FALSE(DownloadListFile("http://127.0.0.1/server_group.php", target_, "Data"));
  std::string answered = LastStubRecord("path", "/server_group.php");
  EXPECT_NE(std::string::npos, answered.find("\"port\":80,")) << answered;
  EXPECT_NE(std::string::npos, answered.find("\"status\":200,")) << answered;
  ExpectEarlierCopyKept();
}

TEST_F(ListDownload, ListDamagedBeforeItArrivedKeepsTheEarlierCopy) {
  // Whole answers with matching lengths: only the document shows the damage.
  std::string groups = "<Data>";
  while (groups.size() < 6u * 1024 * 1024) groups += "<Group name=\"g\"><Server id=\"1\" name=\"s\">";
  const struct {
    const char* what;
    std::string body;
    const char* root;
  } damaged[] = {
      {"servers.xml cut after 150 bytes", Served("/servers2.0.php").substr(0, 150), "Data"},
      {"groups.xml of never-closed elements", groups, "Data"},
      {"route list with a mismatched end tag", "<data><remote><entry net=\"1.2.3.0\"></remote></data>", "data"},
      {"binary noise", std::string("\x89PNG\r\n\x1a\n<Data>\0\xff", 16), "Data"},
  };
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.what);
    ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
    CLoopbackServer server(d.body);
    EXPECT_FALSE(DownloadListFile(server.Url("/list"), target_, d.root));
    EXPECT_EQ(1, server.Requests());
    ExpectEarlierCopyKept();
  }
  // The same server with a whole list: it replaces the copy.
  CLoopbackServer server(Served("/servers2.0.php"));
  ASSERT_TRUE(DownloadListFile(server.Url("/list"), target_, "Data"));
  std::string got;
  ASSERT_TRUE(ReadFileBytes(target_, &got));
  EXPECT_EQ(Served("/servers2.0.php"), got);
}

TEST_F(ListDownload, FailureWithoutEarlierCopyLeavesNoFile) {
  ASSERT_TRUE(SetStubMode("/server_group.php", "500"));
  EXPECT_FALSE(DownloadListFile("http://127.0.0.1:8080/server_group.php", target_, "Data"));
  EXPECT_FALSE(FileExists(target_));
  EXPECT_FALSE(FileExists(target_ + ".tmp"));
}

TEST_F(ListDownload, RefreshReadsTheEarlierGroupsWhenTheServiceFails) {
  std::string servers = dir_ + "\\servers.xml";
  ASSERT_TRUE(WriteFileBytes(target_, kEarlier));
  ASSERT_TRUE(WriteFileBytes(servers, "<Data/>"));
  ASSERT_TRUE(SetStubMode("/server_group.php", "cut"));
  CServerList lines;
  EXPECT_EQ(1, RefreshAndReadLines("http://127.0.0.1:8080/servers2.0.php", servers,
                                   "http://127.0.0.1:8080/server_group.php", target_, lines));
  ASSERT_EQ(1u, lines.Count());
  EXPECT_EQ(42, lines.At(0).id);
  EXPECT_EQ("kept", lines.At(0).name);
  // servers.xml came through.
  std::string got;
  ASSERT_TRUE(ReadFileBytes(servers, &got));
  EXPECT_EQ(Served("/servers2.0.php"), got);
}

}  // namespace
