// The stand-in's record of what it was sent: one JSON object per line, appended as each
// request arrives, so that a test can read what the client really sent (paths, queries,
// cookies, upload bytes) while the stand-in is still running.
//
// Every text field holds the bytes exactly as received, each byte written as the code
// point of the same value (bytes 0x80-0xFF as \u0080-\u00FF), so GBK texts survive
// the trip through JSON: a reader gets the bytes back with a Latin-1 encode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace stub {

// Bodies up to this size are written into the record whole; larger ones only by size.
constexpr size_t kMaxRecordedBody = 256 * 1024;

struct RequestRecord {
  int port = 0;
  std::string role;    // "lists", "pages" or "login"
  std::string method;  // "GET", "POST", ..., "UDP" for a login datagram
  std::string target;  // path and query exactly as on the request line
  std::string path;    // the path the stand-in answered for (percent-decoded)
  std::string query;   // the text after '?' of target, as sent
  std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order
  std::string body;
  int status = 0;      // status that was answered; 0 when the connection was dropped
  std::string mode;    // fault mode applied, "normal" when none
  std::string extra;   // further members of a front's own, ",\"name\":value" JSON text, or ""
};

// A JSON string literal, quotes included, for a byte string (see above).
std::string JsonBytes(const std::string& bytes);

// "2026-01-02T03:04:05.006Z" for milliseconds since 1970 (UTC).
std::string FormatRecordTime(int64_t unix_millis);

// The line for one record, without the line break.
std::string FormatRecordLine(const RequestRecord& record, uint64_t seq, const std::string& time);

class RequestRecorder {
 public:
  RequestRecorder() = default;
  RequestRecorder(const RequestRecorder&) = delete;
  RequestRecorder& operator=(const RequestRecorder&) = delete;
  ~RequestRecorder();

  // Appends to path (created when missing). Without a successful Open nothing is written.
  bool Open(const std::string& path, std::string* error);
  // Numbers and time-stamps the record and appends its line in one write.
  void Write(const RequestRecord& record);

 private:
  std::mutex mutex_;
  int fd_ = -1;
  uint64_t seq_ = 0;
};

}  // namespace stub
