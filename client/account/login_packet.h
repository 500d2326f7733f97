// The login exchange's datagrams: the request the client sends and the answer it reads.
// String lengths travel big-endian, every 4-byte number little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Growable byte buffer for building a datagram.
class CPacketWriter {
 public:
  void PutByte(uint8_t value);
  void PutUint32(uint32_t value);  // little-endian
  // 2-byte big-endian length, then the bytes without terminator. Longer texts are cut to
  // 65535 bytes so that the length always matches what follows.
  void PutString(const std::string& text);
  void PutBytes(const void* data, size_t length);

  const uint8_t* Data() const { return m_bytes.data(); }
  size_t Length() const { return m_length; }
  size_t Capacity() const { return m_bytes.size(); }

 private:
  void Reserve(size_t needed);
  size_t m_length = 0;
  std::vector<uint8_t> m_bytes;  // its size is the capacity
};

// Reads a received datagram; a read that would pass the end fails and reads nothing.
class CPacketReader {
 public:
  CPacketReader(const uint8_t* data, size_t length) : m_data(data), m_length(length) {}
  bool GetByte(uint8_t* value);
  bool GetUint32(uint32_t* value);  // little-endian
  bool GetString(std::string* text);
  bool GetBytes(void* out, size_t n);
  size_t Remaining() const { return m_length - m_pos; }

 private:
  const uint8_t* m_data;
  size_t m_length;
  size_t m_pos = 0;
};

const uint8_t kLoginCommand = 1;
const uint32_t kPaidAccountKind = 99;

// The whole login request.
std::vector<uint8_t> BuildLoginRequest(uint32_t requestNumber, const std::string& hostId,
                                       const std::string& user, const std::string& password,
                                       const std::string& lineHost);

struct LoginResponse {
  uint32_t result = 0;  // 0 success, else the server's error code
  std::string loginCode;
  uint32_t kind = 0;
  uint32_t expiry = 0;  // seconds since 1970-01-01 00:00 UTC
};

// false when the datagram is too short for its fields, or when a success carries a login
// code longer than kMaxLoginCodeBytes or with a byte outside printable ASCII (0x20-0x7E):
// nothing of it may be trusted then. A non-zero result code is taken as soon as it is read:
// the fields after it are not needed.
const size_t kMaxLoginCodeBytes = 256;
bool ParseLoginResponse(const uint8_t* data, size_t length, LoginResponse* out);

// "付费用户" for the paid kind, "免费积分用户" for any other.
const char* AccountKindText(uint32_t kind);

// The expiry text "%Y-%m-%d %H:%M"; the caller's converter turns the UTC seconds into local
// broken-down time (false: no text).
struct tm;
typedef bool (*LocalTimeFn)(int64_t utcSeconds, struct tm* local);
std::string ExpiryText(uint32_t expiry, LocalTimeFn toLocal);
