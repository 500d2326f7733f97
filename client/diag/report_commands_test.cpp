#include "client/diag/report_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ReportInputs Inputs(const std::string& programDir) {
  ReportInputs in;
  in.programDir = programDir;
  in.reachHost = "reach.test";
  in.loginHost = "127.0.0.1";
  in.user = "test01";
  in.loginCode = "8f3a1c";
  in.lineHost = "10.0.0.7";
  return in;
}

TEST(ReportCommands, SixCommandsInOrderWithTheDialTestQuotedWhole) {
  std::vector<ReportCommand> c = BuildReportCommands(Inputs("C:\\Program Files\\Vela"));
  ASSERT_EQ(c.size(), 6u);
  for (const ReportCommand& each : c) EXPECT_TRUE(each.fits);
  EXPECT_EQ(c[0].line, "ipconfig /all");
  EXPECT_EQ(c[1].line, "route print");
  EXPECT_EQ(c[2].line, "netstat -an");
  EXPECT_EQ(c[3].line, "ping reach.test");
  EXPECT_EQ(c[4].line, "ping 127.0.0.1");
  // The login code stands in the line (and so in its header) in plain text.
  EXPECT_EQ(c[5].line,
            "rasdial.exe VelaVPN \"test01\" \"8f3a1c\" /phone:\"10.0.0.7\" "
            "/PHONEBOOK:\"C:\\Program Files\\Vela\\Cache\\velanet_0.pbk\"");
  EXPECT_EQ(ReportHeader(c[5].line), "==== " + c[5].line + "\r\n");
}

TEST(ReportCommands, BlanksAndQuotesInTheAccountCannotSplitTheDialTest) {
  ReportInputs in = Inputs("D:\\Vela");
  in.user = "a b";
  in.loginCode = "x\"y\\";
  std::vector<ReportCommand> c = BuildReportCommands(in);
  EXPECT_EQ(c[5].line,
            "rasdial.exe VelaVPN \"a b\" \"x\\\"y\\\\\" /phone:\"10.0.0.7\" "
            "/PHONEBOOK:\"D:\\Vela\\Cache\\velanet_0.pbk\"");
}

TEST(ReportCommands, ADialTestLongerThanItsBufferIsSkippedNotCut) {
  // A directory that brings the dial test to exactly 511 bytes still fits.
  std::string fixed = BuildReportCommands(Inputs("")).at(5).line;
  std::string dir(kReportCommandBuffer - 1 - fixed.size(), 'd');
  std::vector<ReportCommand> c = BuildReportCommands(Inputs(dir));
  EXPECT_TRUE(c[5].fits);
  EXPECT_EQ(c[5].line.size(), 511u);

  c = BuildReportCommands(Inputs(dir + "d"));
  EXPECT_FALSE(c[5].fits);
  EXPECT_EQ(c[5].line, "");
  // The others do not depend on the directory and still run.
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(c[i].fits) << i;
}

TEST(ReportCommands, ViewQuotesTheReportPathAndRefusesOneThatDoesNotFit) {
  EXPECT_EQ(ViewReportCommand("C:\\Program Files\\Vela\\Cache\\REPORT.TXT"),
            "notepad \"C:\\Program Files\\Vela\\Cache\\REPORT.TXT\"");
  // "notepad " and two quotes: 10 bytes.
  EXPECT_EQ(ViewReportCommand(std::string(501, 'p')).size(), 511u);
  EXPECT_EQ(ViewReportCommand(std::string(502, 'p')), "");
}

}  // namespace
