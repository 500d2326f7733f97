#include "request_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace stub {

std::string JsonBytes(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  for (unsigned char c : bytes) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string FormatRecordTime(int64_t unix_millis) {
  time_t secs = static_cast<time_t>(unix_millis / 1000);
  struct tm utc;
  gmtime_r(&secs, &utc);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(unix_millis % 1000));
  return buf;
}

std::string FormatRecordLine(const RequestRecord& r, uint64_t seq, const std::string& time) {
  std::string line = "{\"seq\":" + std::to_string(seq);
  line += ",\"time\":" + JsonBytes(time);
  line += ",\"port\":" + std::to_string(r.port);
  line += ",\"role\":" + JsonBytes(r.role);
  line += ",\"method\":" + JsonBytes(r.method);
  line += ",\"target\":" + JsonBytes(r.target);
  line += ",\"path\":" + JsonBytes(r.path);
  line += ",\"query\":" + JsonBytes(r.query);
  // An array of pairs, not an object: a client may repeat a header (two Cookie lines),
  // and the record must show what was sent, not a merge of it.
  line += ",\"headers\":[";
  for (size_t i = 0; i < r.headers.size(); ++i) {
    if (i) line += ',';
    line += '[' + JsonBytes(r.headers[i].first) + ',' + JsonBytes(r.headers[i].second) + ']';
  }
  line += "],\"body_size\":" + std::to_string(r.body.size());
  if (r.body.size() <= kMaxRecordedBody) line += ",\"body\":" + JsonBytes(r.body);
  line += ",\"status\":" + std::to_string(r.status);
  line += ",\"mode\":" + JsonBytes(r.mode);
  line += r.extra;
  line += '}';
  return line;
}

RequestRecorder::~RequestRecorder() {
  if (fd_ >= 0) close(fd_);
}

bool RequestRecorder::Open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Never through a link: the stand-in may run as root.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot open record file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return true;
}

void RequestRecorder::Write(const RequestRecord& record) {
  int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) return;
  std::string line = FormatRecordLine(record, ++seq_, FormatRecordTime(now)) + "\n";
  // One write per line on an append descriptor: a reader never sees two lines interleaved.
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::fprintf(stderr, "service_stub: record write failed: %s\n", std::strerror(errno));
      return;
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace stub
