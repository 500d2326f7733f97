#include "common/run_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text_format.h"

namespace {

// A fixed array, set up before any code runs and never destroyed: module start-up code
// sets the path during static initialisation, and the client's background worker may
// still write while the process is ending and other globals are already gone.
char g_szLogPath[1024] = ".\\run.log";

const char* LogPath() { return g_szLogPath; }

int AppendRecord(const char* text, size_t len) {
  // Binary append: callers end their texts in "\r\n" and the file must hold exactly that;
  // a text-mode stream would turn it into "\r\r\n".
  FILE* f = std::fopen(LogPath(), "ab");
  if (!f) return -1;
  SYSTEMTIME st;
  GetLocalTime(&st);
  std::string prefix = FormatLogPrefix({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                                        st.wSecond, st.wMilliseconds});
  std::fwrite(prefix.data(), 1, prefix.size(), f);
  if (len) std::fwrite(text, 1, len, f);
  std::fclose(f);
  return 0;
}

}  // namespace

CRunLog::CRunLog() { CheckSize(); }

int CRunLog::Write(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = VFormat(fmt, ap);
  va_end(ap);
  return AppendRecord(text.data(), text.size());
}

int CRunLog::WriteText(const std::string& text) { return AppendRecord(text.data(), text.size()); }

void CRunLog::SetPath(const char* path) {
  // A path that does not fit is refused rather than cut into the name of another file;
  // the empty path makes every write fail.
  size_t n = path ? std::strlen(path) : 0;
  if (n >= sizeof g_szLogPath) n = 0;
  if (n) std::memcpy(g_szLogPath, path, n);
  g_szLogPath[n] = '\0';
}

std::string CRunLog::GetPath() { return LogPath(); }

void CRunLog::CheckSize() {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(LogPath(), GetFileExInfoStandard, &fa)) return;
  if (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
  if (fa.nFileSizeHigh != 0 || fa.nFileSizeLow > kRunLogMaxBytes) DeleteFileA(LogPath());
}

int WriteLog(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  size_t n = VFormatCut(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return AppendRecord(buf, n);
}
