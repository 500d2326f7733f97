#include "client/diag/report_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ReportInputs Inputs(const std::string& programDir) {
  return ReportInputs{programDir, "reach.test", "127.0.0.1", "a b", "x\"y\\", "10.0.0.7"};
}

TEST(ReportCommands, SixInOrderWithTheDialTestsArgumentsQuotedWhole) {
  std::vector<ReportCommand> c = BuildReportCommands(Inputs("C:\\Program Files\\Vela"));
  ASSERT_EQ(c.size(), 6u);
  const char* fixed[] = {"ipconfig /all", "route print", "netstat -an", "ping reach.test",
                         "ping 127.0.0.1"};
  const char* programs[] = {"ipconfig.exe", "route.exe", "netstat.exe", "ping.exe", "ping.exe",
                            "rasdial.exe"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c[i].line, fixed[i]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(c[i].program, programs[i]);
  // A blank in the account or the directory, a quote in the login code: all reach rasdial.
  EXPECT_EQ(c[5].line,
            "rasdial.exe VelaVPN \"a b\" \"x\\\"y\\\\\" /phone:\"10.0.0.7\" "
            "/PHONEBOOK:\"C:\\Program Files\\Vela\\Cache\\velanet_0.pbk\"");
}

TEST(ReportCommands, LinesBeyond511BytesOrWithALoneLeadByteAreNotRun) {
  size_t fixed = BuildReportCommands(Inputs("")).at(5).line.size();
  std::string dir(kReportCommandBuffer - 1 - fixed, 'd');
  EXPECT_EQ(BuildReportCommands(Inputs(dir)).at(5).line.size(), 511u);
  std::vector<ReportCommand> c = BuildReportCommands(Inputs(dir + "d"));
  EXPECT_FALSE(c[5].fits);
  EXPECT_EQ(c[5].line, "");
  EXPECT_TRUE(c[4].fits);

  // A lone GBK lead byte in any argument: the dial test is not run, whatever fits.
  ReportInputs lone = Inputs("C:\\Vela");
  lone.loginCode = "x\x81\"";
  std::vector<ReportCommand> refused = BuildReportCommands(lone);
  ASSERT_EQ(refused.size(), 6u);
  EXPECT_FALSE(refused[5].wholeGbk);
  EXPECT_EQ(refused[5].line, "");
  EXPECT_TRUE(refused[4].wholeGbk);
  EXPECT_EQ(refused[4].line, "ping 127.0.0.1");

  // A user name or login code that rasdial reads as a switch: the dial test is not run.
  for (const char* value :
       {"/DISCONNECT", "/PHONEBOOK:\\\\host\\share\\x.pbk", "-phonebook:C:\\x.pbk", "*"}) {
    for (int which = 0; which < 2; ++which) {
      ReportInputs in = Inputs("C:\\Vela");
      (which ? in.loginCode : in.user) = value;
      std::vector<ReportCommand> c6 = BuildReportCommands(in);
      ASSERT_EQ(c6.size(), 6u);
      EXPECT_FALSE(c6[5].noSwitch) << value;
      EXPECT_TRUE(c6[5].fits && c6[5].wholeGbk);
      EXPECT_EQ(c6[5].line, "");
      EXPECT_TRUE(c6[4].noSwitch);
    }
  }
  // Only a leading '/' or '-', or a lone '*', is a switch.
  ReportInputs inner = Inputs("C:\\Vela");
  inner.user = "a/-b";
  inner.loginCode = "**";
  EXPECT_EQ(BuildReportCommands(inner)[5].line,
            "rasdial.exe VelaVPN \"a/-b\" \"**\" /phone:\"10.0.0.7\" /PHONEBOOK:\"C:\\Vela\\Cache\\velanet_0.pbk\"");

  EXPECT_EQ(ViewReportCommand("C:\\Program Files\\Vela\\Cache\\REPORT.TXT"),
            "notepad \"C:\\Program Files\\Vela\\Cache\\REPORT.TXT\"");
  EXPECT_EQ(ViewReportCommand(std::string(501, 'p')).size(), 511u);
  EXPECT_EQ(ViewReportCommand(std::string(502, 'p')), "");
}

}  // namespace
