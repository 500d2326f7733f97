#include "fault_table.h"

#include <chrono>
#include <cstdlib>

namespace stub {

namespace {

const char kSlowPrefix[] = "slow:";

// Plain decimal digits only: no sign, no blanks, no overflow past kMaxDelayMs.
bool ParseDelay(const std::string& digits, int* ms) {
  if (digits.empty() || digits.size() > 7) return false;
  long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > kMaxDelayMs) return false;
  *ms = static_cast<int>(value);
  return true;
}

}  // namespace

bool ParseFaultMode(const std::string& text, FaultMode* mode) {
  FaultMode m;
  if (text == "normal") {
    m.kind = FaultKind::kNormal;
  } else if (text == "404") {
    m.kind = FaultKind::kNotFound;
  } else if (text == "500") {
    m.kind = FaultKind::kServerError;
  } else if (text == "cut") {
    m.kind = FaultKind::kCut;
  } else if (text == "drop") {
    m.kind = FaultKind::kDrop;
  } else if (text.compare(0, sizeof kSlowPrefix - 1, kSlowPrefix) == 0) {
    m.kind = FaultKind::kSlow;
    if (!ParseDelay(text.substr(sizeof kSlowPrefix - 1), &m.delay_ms)) return false;
  } else {
    return false;
  }
  *mode = m;
  return true;
}

std::string FormatFaultMode(const FaultMode& mode) {
  switch (mode.kind) {
    case FaultKind::kNormal: return "normal";
    case FaultKind::kNotFound: return "404";
    case FaultKind::kServerError: return "500";
    case FaultKind::kSlow: return kSlowPrefix + std::to_string(mode.delay_ms);
    case FaultKind::kCut: return "cut";
    case FaultKind::kDrop: return "drop";
  }
  return "normal";
}

bool IsFaultPath(const std::string& path) {
  return path == "*" || path == "login" || (!path.empty() && path[0] == '/' && path.size() <= 1024);
}

bool ParseFaultRule(const std::string& text, std::string* path, FaultMode* mode) {
  // The last '=' splits, so that a path may itself hold '=' (it never holds a mode).
  size_t eq = text.rfind('=');
  if (eq == std::string::npos) return false;
  std::string p = text.substr(0, eq);
  FaultMode m;
  if (!IsFaultPath(p) || !ParseFaultMode(text.substr(eq + 1), &m)) return false;
  *path = p;
  *mode = m;
  return true;
}

void FaultTable::Set(const std::string& path, const FaultMode& mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mode.kind == FaultKind::kNormal) {
    rules_.erase(path);
  } else {
    rules_[path] = mode;
  }
}

FaultMode FaultTable::Lookup(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = rules_.find(path);
  if (it == rules_.end()) it = rules_.find("*");
  return it == rules_.end() ? FaultMode() : it->second;
}

std::vector<std::pair<std::string, FaultMode>> FaultTable::List() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {rules_.begin(), rules_.end()};
}

bool FaultTable::Delay(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stop_signal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void FaultTable::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_signal_.notify_all();
}

}  // namespace stub
