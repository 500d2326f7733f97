// How the stand-in misbehaves on purpose: per request path, answer an error code, answer
// late, cut the body short or drop the connection, so that the client's handling of a
// failing service can be tested without a real outage.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace stub {

enum class FaultKind { kNormal, kNotFound, kServerError, kSlow, kCut, kDrop };

struct FaultMode {
  FaultKind kind = FaultKind::kNormal;
  int delay_ms = 0;  // kSlow only
};

// Longest delay a "slow:<ms>" mode may ask for: longer than any client time-out, short
// enough that a forgotten mode cannot hang a test run for good.
constexpr int kMaxDelayMs = 600000;

// "normal", "404", "500", "slow:<ms>", "cut" or "drop". Anything else is refused.
bool ParseFaultMode(const std::string& text, FaultMode* mode);
std::string FormatFaultMode(const FaultMode& mode);

// "PATH=MODE" as given on the command line. PATH is an absolute request path, "login" (the
// login datagrams) or "*" (every path that has no rule of its own).
bool ParseFaultRule(const std::string& text, std::string* path, FaultMode* mode);
bool IsFaultPath(const std::string& path);

class FaultTable {
 public:
  // A normal mode removes the path's rule.
  void Set(const std::string& path, const FaultMode& mode);
  // The rule of the path itself, else the "*" rule, else normal.
  FaultMode Lookup(const std::string& path) const;
  std::vector<std::pair<std::string, FaultMode>> List() const;

  // Waits ms milliseconds, or less when Stop() comes first, so that a shutdown never
  // waits behind a slow answer. Returns false when it was cut short.
  bool Delay(int ms);
  void Stop();

 private:
  mutable std::mutex mutex_;
  std::condition_variable stop_signal_;
  std::map<std::string, FaultMode> rules_;
  bool stopping_ = false;
};

}  // namespace stub
