// The login protocol's UDP listener on 127.0.0.1: one request datagram, one answer datagram,
// checked against the sample accounts. It shares the fault table (under the name "login")
// and the record with the HTTP fronts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fault_table.h"
#include "request_recorder.h"
#include "sample_data.h"

namespace stub {

// The fault table's name for the login datagrams. It has no '/', so no HTTP path can
// share its rule.
constexpr char kLoginFaultName[] = "login";

// Result codes of the answer.
constexpr uint32_t kLoginOk = 0;
constexpr uint32_t kLoginUnknownUser = 2;
constexpr uint32_t kLoginWrongPassword = 3;

struct LoginRequest {
  uint8_t command = 0;
  uint32_t request_number = 0;
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
  std::string host_id;
  std::string user;
  std::string password;
  std::string line_host;
};

// The whole datagram must be exactly one request: 0x03, command 1, 0x01, three 32-bit
// little-endian numbers, then four strings of a big-endian 16-bit length and that many
// bytes. A short, long or otherwise different datagram gives false and a one-word reason.
bool ParseLoginRequest(const std::string& datagram, LoginRequest* request, std::string* error);

struct LoginAnswer {
  uint32_t result = kLoginOk;
  std::string message;
  std::string login_code;
  int32_t kind = 0;
  uint32_t expiry = 0;
};

// Success carries the account's login code, kind and expiry; a failure carries the result
// code with an empty code and zero kind and expiry, in the same layout.
LoginAnswer CheckLogin(const std::vector<Account>& accounts, const LoginRequest& request);

// 0x03 0x01, result, message, login code, kind, expiry.
std::string FormatLoginAnswer(const LoginAnswer& answer);

class LoginFront {
 public:
  LoginFront(const SampleData& data, FaultTable& faults, RequestRecorder& recorder)
      : data_(data), faults_(faults), recorder_(recorder) {}
  LoginFront(const LoginFront&) = delete;
  LoginFront& operator=(const LoginFront&) = delete;
  ~LoginFront();

  // Binds 127.0.0.1:port (0: any free port). Returns the port bound, or -1 (errno set).
  int Bind(int port);
  // Answers datagrams one at a time until Stop(); call from a thread of its own.
  void Run();
  void Stop() { stopping_ = true; }

 private:
  void Handle(const std::string& datagram, const void* peer, unsigned peer_len);

  const SampleData& data_;
  FaultTable& faults_;
  RequestRecorder& recorder_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
};

}  // namespace stub
