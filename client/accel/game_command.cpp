#include "client/accel/game_command.h"

#include <cctype>

namespace {

bool IsFullPath(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      path[2] == '\\') {
    return true;
  }
  return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

bool Existing(const std::string& path, const std::function<bool(const std::string&)>& isFile,
              std::string* program) {
  if (!IsFullPath(path)) return false;
  if (isFile(path)) {
    *program = path;
    return true;
  }
  if (isFile(path + ".exe")) {
    *program = path + ".exe";
    return true;
  }
  return false;
}

}  // namespace

bool IsSoftwareKey(const std::string& key) {
  static const char kPrefix[] = "SOFTWARE\\";
  const size_t n = sizeof kPrefix - 1;
  if (key.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(key[i])) != kPrefix[i]) return false;
  }
  return true;
}

bool ResolveGameProgram(const std::string& command,
                        const std::function<bool(const std::string&)>& isFile,
                        std::string* program) {
  if (command.empty()) return false;
  if (command[0] == '"') {
    size_t end = command.find('"', 1);
    if (end == std::string::npos) return false;
    std::string quoted = command.substr(1, end - 1);
    if (!IsFullPath(quoted) || !isFile(quoted)) return false;
    *program = quoted;
    return true;
  }
  // Longest first: "D:\Online Games\x\x.exe" is never taken for a "D:\Online.exe" beside it.
  size_t end = command.size();
  for (;;) {
    if (end > 0 && Existing(command.substr(0, end), isFile, program)) return true;
    if (end == 0) return false;
    size_t blank = command.rfind(' ', end - 1);
    if (blank == std::string::npos) return false;
    end = blank;
  }
}

std::string ProgramFolderOf(const std::string& program) {
  size_t slash = program.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && program[1] == ':') return program.substr(0, 3);
  return program.substr(0, slash);
}
