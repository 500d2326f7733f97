// Splitting a command line into arguments by the rules the C runtime of Windows programs
// uses, so that the stand-in dial command sees what the system's own command would see.
// No operating system here.
#pragma once

#include <string>
#include <vector>

// All arguments, the program name first. Blanks and tabs separate arguments outside double
// quotes; 2n backslashes before a quote give n backslashes and the quote opens or closes a
// quoted part, 2n+1 give n backslashes and a literal quote; a doubled quote inside a quoted
// part is a literal quote; other backslashes are literal. The program name ends at the first
// blank unless it is quoted, and keeps its backslashes. GBK double-byte characters are kept
// whole, so a trail byte 0x5C is never taken for a backslash.
std::vector<std::string> SplitCommandLine(const char* commandLine);
