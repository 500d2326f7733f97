// Arbitrary bytes as a login server's answer datagram. The reader must stay inside the
// datagram, take a result only when it has all its fields, and give the same account
// fields back when the datagram is read a second time; the texts built from a successful
// answer must be what the client shows.
#include "client/account/login_packet.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// A converter that works for any expiry without the machine's time zone.
bool UtcParts(int64_t seconds, struct tm* out) {
  std::memset(out, 0, sizeof *out);
  int64_t days = seconds / 86400, rest = seconds % 86400;
  out->tm_hour = static_cast<int>(rest / 3600);
  out->tm_min = static_cast<int>(rest / 60 % 60);
  out->tm_year = 70 + static_cast<int>(days / 365);
  out->tm_mday = 1 + static_cast<int>(days % 28);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the datagram's size, so that any read past its end is caught.
  std::vector<uint8_t> datagram(data, data + size);
  LoginResponse got;
  got.loginCode = "untouched";
  if (!ParseLoginResponse(datagram.data(), datagram.size(), &got)) {
    if (got.loginCode != "untouched") std::abort();  // a failed read gives nothing back
    return 0;
  }
  if (size < 6) std::abort();
  if (got.result == 0) {
    // Header, two length-prefixed strings and two numbers.
    if (size < 6 + 2 + 2 + got.loginCode.size() + 8) std::abort();
  } else if (!got.loginCode.empty()) {
    std::abort();  // a refusal carries no account fields
  }
  LoginResponse again;
  if (!ParseLoginResponse(datagram.data(), datagram.size(), &again)) std::abort();
  if (again.result != got.result || again.loginCode != got.loginCode ||
      again.kind != got.kind || again.expiry != got.expiry)
    std::abort();
  const char* kind = AccountKindText(got.kind);
  if (!kind || !*kind) std::abort();
  std::string expiry = ExpiryText(got.expiry, UtcParts);
  if (expiry.size() > 32) std::abort();
  return 0;
}
