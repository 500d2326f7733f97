#include "client/accel/game_launch.h"

#include <windows.h>

#include <initializer_list>
#include <vector>

#include "client/accel/game_command.h"
#include "common/text_format.h"

namespace {

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The full long form of a path, for comparing folders: "C:\PROGRA~1\..\WINDOWS\x.exe"
// and "c:\windows\x.exe" are one file. The path as given when the system cannot say.
std::string LongFullPath(const std::string& path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return path;
  char longer[MAX_PATH];
  n = GetLongPathNameA(full, longer, sizeof longer);
  if (n == 0 || n >= sizeof longer) return full;
  return longer;
}

std::string FolderFrom(UINT(WINAPI* folderOf)(LPSTR, UINT)) {
  char dir[MAX_PATH];
  UINT n = folderOf(dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return std::string();
  return LongFullPath(std::string(dir, n));
}

// The Windows folder, the shared one under Terminal Services and the system folder: any
// program there is the system's, and a list has no business starting it elevated.
bool IsSystemProgram(const std::string& program) {
  std::string path = LongFullPath(program);
  for (auto folderOf : {GetWindowsDirectoryA, GetSystemWindowsDirectoryA, GetSystemDirectoryA}) {
    std::string folder = FolderFrom(folderOf);
    // A folder the system does not tell cannot be told apart: nothing is started then.
    if (folder.empty() || IsInFolder(path, folder)) return true;
  }
  return false;
}

// The machine's own variables only: the elevated process's environment came from whoever
// started it, and "%GAME%\x.exe" would be whatever they set.
bool ExpandWithSystemVariables(const std::string& text, std::string* expanded) {
  typedef BOOL(WINAPI * PFN_Expand)(HANDLE, LPCSTR, LPSTR, DWORD);
  static PFN_Expand expand = nullptr;
  static bool bound = false;
  if (!bound) {
    bound = true;
    // From the system folder by its full name: a userenv.dll beside the program or in the
    // current folder never gets loaded.
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + sizeof "\\userenv.dll" > MAX_PATH) return false;
    lstrcpyA(path + n, "\\userenv.dll");
    HMODULE userenv = LoadLibraryA(path);
    if (userenv) {
      expand = reinterpret_cast<PFN_Expand>(
          reinterpret_cast<void*>(GetProcAddress(userenv, "ExpandEnvironmentStringsForUserA")));
    }
  }
  if (!expand) return false;
  // Room for any command line; a result that fills it may have been cut (not every system
  // says so), and a cut line would start something else.
  std::vector<char> out(32768, '\0');
  if (!expand(nullptr, text.c_str(), out.data(), static_cast<DWORD>(out.size()))) return false;
  if (out[out.size() - 2] != '\0') return false;
  *expanded = out.data();
  return true;
}

}  // namespace

bool FindGameLaunch(const std::string& regKey, const std::string& regValue, GameLaunch* launch,
                    std::string* why) {
  const std::string shownKey = ShowControlBytes(regKey);
  std::string refusal = GameKeyRefusal(regKey);
  if (!refusal.empty()) {
    *why = Format("注册表项%s：%s", refusal.c_str(), shownKey.c_str());
    return false;
  }
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, regKey.c_str(), &key) != ERROR_SUCCESS) {
    *why = Format("注册表项不存在：%s", shownKey.c_str());
    return false;
  }
  char command[1024] = "";
  DWORD type = 0;
  DWORD size = sizeof command - 1;  // room for the terminator the value may lack
  LONG result = RegQueryValueExA(key, regValue.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(command), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    *why = Format("注册表值不是可读的文本：%s\\%s", shownKey.c_str(),
                  ShowControlBytes(regValue).c_str());
    return false;
  }
  command[size < sizeof command ? size : sizeof command - 1] = '\0';
  std::string line = command;
  if (type == REG_EXPAND_SZ && !ExpandWithSystemVariables(command, &line)) {
    *why = Format("启动命令无法展开：%s", ShowControlBytes(command).c_str());
    return false;
  }
  const std::string shownLine = ShowControlBytes(line);
  if (line.size() <= 4) {
    *why = Format("启动命令太短：%s", shownLine.c_str());
    return false;
  }
  // Found once, and started as found: the search that CreateProcess would make of an
  // unquoted path with blanks tries "D:\Online.exe" before "D:\Online Games\x\x.exe".
  std::string program;
  switch (ResolveGameProgram(line, IsExistingFile, &program)) {
    case kGameProgramFound:
      break;
    case kGameProgramNotFullPath:
      *why = Format("启动命令的程序不是完整路径：%s", shownLine.c_str());
      return false;
    case kGameProgramMissing:
      *why = Format("启动命令的程序不存在：%s", shownLine.c_str());
      return false;
  }
  if (IsSystemProgram(program)) {
    *why = Format("启动命令的程序在系统目录中：%s", ShowControlBytes(program).c_str());
    return false;
  }
  launch->commandLine = line;
  launch->program = program;
  return true;
}
