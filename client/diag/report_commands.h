// The diagnostic report's command lines: the five fixed commands and the dial test, and the
// command that opens the finished report in the text editor. No operating system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What the command lines are filled with.
struct ReportInputs {
  std::string programDir;  // the phonebook lies in its Cache
  std::string reachHost;   // a public web host: is the Internet at large reachable?
  std::string loginHost;   // the service's login host
  std::string user;        // the account's user name
  std::string loginCode;   // the account's login code, the tunnel password
  std::string lineHost;    // host of the selected line
};

// Every command line is built in a buffer of this size, its terminating zero included.
const size_t kReportCommandBuffer = 512;

// One command of the report, in running order. A line that would not fit its buffer is not
// run at all (cut, it would name another file or carry a cut password): its text stays empty
// and `fits` false. Nor is a line with an argument that is not whole GBK (see
// QuoteCommandArg): its text stays empty and `wholeGbk` false. Nor is a dial test whose user
// name or login code rasdial would read as a switch (see IsRasdialSwitch): its text stays
// empty and `noSwitch` false.
struct ReportCommand {
  std::string program;  // the program's file name, of the system directory ("ping.exe")
  std::string line;
  bool fits;
  bool wholeGbk = true;
  bool noSwitch = true;
};

// "ipconfig /all", "route print", "netstat -an", a ping of the public host, a ping of the
// login host, then the dial test with every argument quoted by the Windows rules, so that a
// program directory under "Program Files" or a blank in the account reaches rasdial whole.
std::vector<ReportCommand> BuildReportCommands(const ReportInputs& in);

// "==== <command line>\r\n", the header of each command's output in the report file.
std::string ReportHeader(const std::string& commandLine);

// notepad with the report's path in quotes (a directory with a blank must not split it);
// empty when the line would not fit its buffer. Run by the system directory's notepad.exe.
std::string ViewReportCommand(const std::string& reportPath);
