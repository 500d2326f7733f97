#include "client/diag/report_commands.h"

#include "common/text_format.h"

namespace {

ReportCommand Fitting(const std::string& line) {
  ReportCommand c;
  // The program is the system's own of the line's first word; the line stays as it is.
  c.program = line.substr(0, line.find(' '));
  if (c.program.size() < 4 || c.program.compare(c.program.size() - 4, 4, ".exe") != 0)
    c.program += ".exe";
  c.fits = line.size() < kReportCommandBuffer;
  if (c.fits) c.line = line;
  return c;
}

}  // namespace

std::vector<ReportCommand> BuildReportCommands(const ReportInputs& in) {
  std::vector<ReportCommand> commands;
  commands.push_back(Fitting("ipconfig /all"));
  commands.push_back(Fitting("route print"));
  commands.push_back(Fitting("netstat -an"));
  // Host names come from the client's own settings and hold no blank or quote.
  commands.push_back(Fitting("ping " + in.reachHost));
  commands.push_back(Fitting("ping " + in.loginHost));
  std::string phonebook = in.programDir + "\\Cache\\velanet_0.pbk";
  std::string user, code, host, book;
  if (IsRasdialSwitch(in.user) || IsRasdialSwitch(in.loginCode)) {
    ReportCommand refused;
    refused.fits = true;
    refused.noSwitch = false;
    commands.push_back(refused);
  } else if (QuoteCommandArg(in.user, &user) && QuoteCommandArg(in.loginCode, &code) &&
      QuoteCommandArg(in.lineHost, &host) && QuoteCommandArg(phonebook, &book)) {
    commands.push_back(Fitting("rasdial.exe VelaVPN " + user + " " + code + " /phone:" + host +
                               " /PHONEBOOK:" + book));
  } else {
    ReportCommand refused;
    refused.fits = true;
    refused.wholeGbk = false;
    commands.push_back(refused);
  }
  return commands;
}

std::string ReportHeader(const std::string& commandLine) {
  return "==== " + commandLine + "\r\n";
}

std::string ViewReportCommand(const std::string& reportPath) {
  // A Windows path cannot hold a quote, so plain quotes keep it whole.
  return Fitting("notepad \"" + reportPath + "\"").line;
}
