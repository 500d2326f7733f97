#include "common/run_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    path_ = std::string(dir) + "run_log_test_" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(path_.c_str());
    CRunLog::SetPath(path_.c_str());
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }

  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteBytes(size_t n) const {
    std::ofstream out(path_, std::ios::binary);
    out << std::string(n, 'x');
  }
  bool Exists() const { return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::string path_;
};

const char* kPrefix = R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )";

TEST_F(RunLogTest, FirstWriteCreatesTheFileWithPrefixAndExactLineEnd) {
  ASSERT_EQ(CRunLog::Write("操作系统版本：%d.%d %s\r\n", 5, 1, "Service Pack 3"), 0);
  std::string s = Contents();
  EXPECT_TRUE(std::regex_match(s, std::regex(std::string(kPrefix) +
                                             "\xB2\xD9\xD7\xF7\xCF\xB5\xCD\xB3\xB0\xE6\xB1\xBE"
                                             "\xA3\xBA" "5\\.1 Service Pack 3\r\n")))
      << s;
}

TEST_F(RunLogTest, MessageWithoutLineEndRunsIntoTheNextPrefix) {
  CRunLog::Write("abc");
  CRunLog::Write("def\r\n");
  EXPECT_TRUE(std::regex_match(Contents(),
                               std::regex(std::string(kPrefix) + "abc" + kPrefix + "def\r\n")));
}

TEST_F(RunLogTest, UnopenablePathReportsMinusOne) {
  CRunLog::SetPath("Z:\\no\\such\\dir\\run.log");
  EXPECT_EQ(CRunLog::Write("x\r\n"), -1);
}

TEST_F(RunLogTest, SizeCheckKeepsExactlyOneMebibyteAndDeletesOneByteMore) {
  WriteBytes(1048576);
  CRunLog::CheckSize();
  EXPECT_TRUE(Exists());
  WriteBytes(1048577);
  CRunLog check;  // the constructor is the start-up check
  EXPECT_FALSE(Exists());
}

TEST_F(RunLogTest, WriteLogCutsTo255BytesAndWritesPercentLiterally) {
  std::string big(300, 'a');
  WriteLog("%s", big.c_str());
  std::string s = Contents();
  EXPECT_TRUE(std::regex_match(s, std::regex(std::string(kPrefix) + std::string(255, 'a')))) << s;

  DeleteFileA(path_.c_str());
  WriteLog("选择服务器：%s，开始连接。\r\n", "100%d%s%n");
  s = Contents();
  EXPECT_NE(s.find("100%d%s%n"), std::string::npos) << s;
  EXPECT_EQ(s.substr(s.size() - 2), "\r\n");
}

TEST_F(RunLogTest, WriteTakesLongMessagesWhole) {
  std::string big(10000, 'b');
  CRunLog::Write("%s\r\n", big.c_str());
  EXPECT_NE(Contents().find(big + "\r\n"), std::string::npos);
}

}  // namespace
