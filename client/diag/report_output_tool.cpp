// A command for the report's tests: writes a known number of bytes to its standard output
// (letters in a fixed cycle, in pieces of 1000), then, when given a second argument, creates
// that file to show it has finished writing. Not shipped.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  long count = argc > 1 ? std::atol(argv[1]) : 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  char piece[1000];
  for (long at = 0; at < count;) {
    DWORD n = static_cast<DWORD>(count - at < 1000 ? count - at : 1000);
    for (DWORD i = 0; i < n; ++i) piece[i] = static_cast<char>('a' + (at + i) % 26);
    DWORD written = 0;
    // A reader that has gone breaks the pipe: the rest is lost, as with any command.
    if (!WriteFile(out, piece, n, &written, nullptr)) break;
    at += n;
  }
  if (argc > 2) {
    HANDLE done = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (done != INVALID_HANDLE_VALUE) CloseHandle(done);
  }
  return 0;
}
