// The run log: one timestamped record per write, appended to a plain-text file that is
// opened and closed on every write. Each deliverable that logs keeps one path of its own.
#pragma once

#include <string>

// Files above this size are deleted when the log starts.
const unsigned long kRunLogMaxBytes = 1048576;

class CRunLog {
 public:
  // Runs the start-up size check on the current path.
  CRunLog();

  // Formats the message and appends "[time] " and the message as they are: callers end
  // their messages with "\r\n", no line end is added. 0 on success, -1 when the file
  // cannot be opened.
  static int Write(const char* fmt, ...)
#if defined(__GNUC__)
      __attribute__((format(gnu_printf, 1, 2)))
#endif
      ;
  // Appends one record whose text is taken literally.
  static int WriteText(const std::string& text);

  static void SetPath(const char* path);
  static std::string GetPath();

  // Deletes the file at the current path if it is larger than kRunLogMaxBytes.
  static void CheckSize();
};

// The tunnel modules' message function: formats into 256 bytes (cut to 255) and writes the
// result literally, so a "%" inside an argument is never interpreted twice.
int WriteLog(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;
