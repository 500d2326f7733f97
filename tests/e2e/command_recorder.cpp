// Stands in for the programs that the client starts (sc, net, notepad, explorer, the
// default browser): appends the command line it was given to the file that
// ACCEL_COMMAND_RECORD names, or else to commands.txt beside itself, and ends. Built a
// second time as the copy planted where the client must never look for a program: that one
// writes planted.txt beside itself, whatever the environment says. When
// ACCEL_COMMAND_SNAPSHOT names a folder, a second line tells what that folder held when the
// command ran (the setup program's access lists must come before its files). Not shipped.
#include <windows.h>

#ifdef ACCEL_PLANTED_COPY
const char kRecordName[] = "planted.txt";
#else
const char kRecordName[] = "commands.txt";
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD n = 0;
#ifndef ACCEL_PLANTED_COPY
  n = GetEnvironmentVariableA("ACCEL_COMMAND_RECORD", path, MAX_PATH);
  if (n >= MAX_PATH) return 1;
#endif
  if (n == 0) {
    n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    char* slash = path + n;
    while (slash > path && slash[-1] != '\\') --slash;
    lstrcpynA(slash, kRecordName, static_cast<int>(MAX_PATH - (slash - path)));
  }
  // Programs started together (the log in notepad, then the site in explorer) record at
  // once: appending is a seek and a write, so without the file to itself one line would
  // overwrite the other.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 200 && file == INVALID_HANDLE_VALUE; ++tries) {
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_SHARING_VIOLATION) return 1;
      Sleep(50);
    }
  }
  if (file == INVALID_HANDLE_VALUE) return 1;
  char line[4096];
  int length = lstrlenA(GetCommandLineA());
  if (length > static_cast<int>(sizeof line) - 3) length = sizeof line - 3;
  CopyMemory(line, GetCommandLineA(), length);
  CopyMemory(line + length, "\r\n", 2);
  length += 2;
#ifndef ACCEL_PLANTED_COPY
  char folder[MAX_PATH];
  DWORD folderLength = GetEnvironmentVariableA("ACCEL_COMMAND_SNAPSHOT", folder, MAX_PATH - 2);
  if (folderLength > 0 && folderLength < MAX_PATH - 2) {
    lstrcatA(folder, "\\*");
    const char holds[] = "  holds:";
    CopyMemory(line + length, holds, sizeof holds - 1);
    length += sizeof holds - 1;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(folder, &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
      int nameLength = lstrlenA(found.cFileName);
      if (!lstrcmpA(found.cFileName, ".") || !lstrcmpA(found.cFileName, "..") ||
          length + nameLength + 4 > static_cast<int>(sizeof line))
        continue;
      line[length++] = ' ';
      CopyMemory(line + length, found.cFileName, nameLength);
      length += nameLength;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    CopyMemory(line + length, "\r\n", 2);
    length += 2;
  }
#endif
  DWORD written = 0;
  WriteFile(file, line, length, &written, nullptr);
  CloseHandle(file);
  return 0;
}
