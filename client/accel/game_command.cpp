#include "client/accel/game_command.h"

#include <cctype>

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::vector<std::string> Segments(const std::string& path, const char* separators) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = path.find_first_of(separators, start);
    parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// "C:\..." with no "." or ".." segment. Windows takes "/" as a separator as well, so it
// separates here too; it drops a segment's last dot ("C:\Windows.\x" is "C:\Windows\x"), and a
// colon past the drive names a stream, not a file.
bool IsPlainFullPath(const std::string& path) {
  if (path.size() < 4 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' ||
      path[2] != '\\') {
    return false;
  }
  if (path.find(':', 2) != std::string::npos) return false;
  for (const std::string& segment : Segments(path.substr(3), "\\/")) {
    if (!segment.empty() && segment[segment.size() - 1] == '.') return false;
  }
  return true;
}

GameProgramResult Existing(const std::string& path,
                           const std::function<bool(const std::string&)>& isFile,
                           std::string* program) {
  if (!IsPlainFullPath(path)) return kGameProgramNotFullPath;
  if (isFile(path)) {
    *program = path;
    return kGameProgramFound;
  }
  if (isFile(path + ".exe")) {
    *program = path + ".exe";
    return kGameProgramFound;
  }
  return kGameProgramMissing;
}

}  // namespace

bool IsSoftwareKey(const std::string& key) {
  static const char kPrefix[] = "SOFTWARE\\";
  const size_t n = sizeof kPrefix - 1;
  if (key.size() <= n) return false;
  return SameText(key.substr(0, n), kPrefix);
}

std::string GameKeyRefusal(const std::string& key) {
  if (!IsSoftwareKey(key)) return "不在SOFTWARE\\下";
  std::vector<std::string> parts = Segments(key, "\\");
  if (parts.back().empty()) parts.pop_back();  // "SOFTWARE\x\" names the key "SOFTWARE\x"
  for (const std::string& part : parts) {
    if (part.empty()) return "含有空的键名";
    if (SameText(part, "Uninstall")) return "是卸载信息的键";
  }
  size_t owner = parts.size() > 2 && SameText(parts[1], "Wow6432Node") ? 2 : 1;
  if (parts.size() > owner) {
    const std::string& name = parts[owner];
    if (SameText(name, "Microsoft") || SameText(name, "Classes") || SameText(name, "Policies")) {
      return "是系统的键";
    }
  }
  return std::string();
}

GameProgramResult ResolveGameProgram(const std::string& command,
                                     const std::function<bool(const std::string&)>& isFile,
                                     std::string* program) {
  if (command.empty()) return kGameProgramNotFullPath;
  if (command[0] == '"') {
    size_t end = command.find('"', 1);
    if (end == std::string::npos) return kGameProgramNotFullPath;
    return Existing(command.substr(1, end - 1), isFile, program);
  }
  // Longest first: "D:\Online Games\x\x.exe" is never taken for a "D:\Online.exe" beside it.
  GameProgramResult why = kGameProgramNotFullPath;
  size_t end = command.size();
  for (;;) {
    if (end > 0) {
      GameProgramResult result = Existing(command.substr(0, end), isFile, program);
      if (result == kGameProgramFound) return result;
      if (result == kGameProgramMissing) why = result;  // some full path was looked for
    }
    if (end == 0) return why;
    size_t blank = command.rfind(' ', end - 1);
    if (blank == std::string::npos) return why;
    end = blank;
  }
}

bool IsInFolder(const std::string& path, const std::string& folder) {
  std::string base = folder;
  while (!base.empty() && base[base.size() - 1] == '\\') base.erase(base.size() - 1);
  if (base.empty() || path.size() < base.size()) return false;
  if (!SameText(path.substr(0, base.size()), base)) return false;
  return path.size() == base.size() || path[base.size()] == '\\';
}

std::string ProgramFolderOf(const std::string& program) {
  size_t slash = program.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && program[1] == ':') return program.substr(0, 3);
  return program.substr(0, slash);
}
