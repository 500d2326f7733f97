// Stands in for the programs that the client starts by name or through a page address
// (notepad, explorer, the default browser): appends the command line it was given to
// commands.txt beside itself and ends. Not shipped.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  char* slash = path + n;
  while (slash > path && slash[-1] != '\\') --slash;
  lstrcpynA(slash, "commands.txt", static_cast<int>(MAX_PATH - (slash - path)));
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
  DWORD written = 0;
  WriteFile(file, line, length + 2, &written, nullptr);
  CloseHandle(file);
  return 0;
}
