#include "common/dotted_address.h"

#include <cstring>

bool ParseDottedAddress(const std::string& text, uint32_t* addr) {
  unsigned char parts[4];
  size_t pos = 0;
  for (int p = 0; p < 4; ++p) {
    if (p > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t begin = pos;
    unsigned value = 0;
    while (pos < text.size() && pos - begin < 4 && text[pos] >= '0' && text[pos] <= '9')
      value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    size_t digits = pos - begin;
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (digits > 1 && text[begin] == '0') return false;
    parts[p] = static_cast<unsigned char>(value);
  }
  if (pos != text.size()) return false;
  std::memcpy(addr, parts, 4);
  return true;
}

bool ParseDottedAddressHostOrder(const std::string& text, uint32_t* value) {
  uint32_t addr;
  if (!ParseDottedAddress(text, &addr)) return false;
  unsigned char b[4];
  std::memcpy(b, &addr, 4);
  *value = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
  return true;
}
