#include "tools/dialup/command_line.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsGbkLead(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x81 && u <= 0xFE;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* commandLine) {
  std::vector<std::string> args;
  if (!commandLine) return args;
  const char* p = commandLine;

  // The program name: quotes only group, backslashes are path separators.
  std::string program;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') {
      if (IsGbkLead(*p) && p[1]) program += *p++;
      program += *p++;
    }
    if (*p == '"') ++p;
  } else {
    while (*p && !IsBlank(*p)) {
      if (IsGbkLead(*p) && p[1]) program += *p++;
      program += *p++;
    }
  }
  args.push_back(program);

  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    while (*p) {
      if (!quoted && IsBlank(*p)) break;
      if (IsGbkLead(*p) && p[1]) {
        arg += *p++;
        arg += *p++;
        continue;
      }
      size_t backslashes = 0;
      while (*p == '\\') {
        ++backslashes;
        ++p;
      }
      if (*p == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          arg += '"';
        } else if (quoted && p[1] == '"') {
          arg += '"';
          ++p;
        } else {
          quoted = !quoted;
        }
        ++p;
        continue;
      }
      arg.append(backslashes, '\\');
      if (*p && (quoted || !IsBlank(*p))) {
        if (IsGbkLead(*p) && p[1]) continue;  // handled at the top of the loop
        arg += *p++;
      }
    }
    args.push_back(arg);
  }
  return args;
}
