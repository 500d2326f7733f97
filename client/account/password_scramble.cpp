#include "client/account/password_scramble.h"

#include <cstring>

namespace {

const size_t kScrambleBuffer = 1024;

std::string Shift(const std::string& in, int delta) {
  char buf[kScrambleBuffer];
  std::memset(buf, 0, sizeof buf);
  size_t n = in.size() < sizeof buf - 1 ? in.size() : sizeof buf - 1;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (i % 2 == 1) c = static_cast<unsigned char>(c + delta);
    buf[i] = static_cast<char>(c);
  }
  return std::string(buf);  // ends at the first zero byte
}

}  // namespace

std::string ScramblePassword(const std::string& plain) { return Shift(plain, 1); }

std::string UnscramblePassword(const std::string& stored) { return Shift(stored, -1); }
