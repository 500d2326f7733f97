// Decimal numbers in the service's list files and the user's settings: leading blanks, an
// optional sign, then the leading digits; 0 when there are none. Values beyond the 32-bit
// range are held at its ends instead of wrapping, so a hostile list cannot turn a large id
// into a negative one.
#pragma once

#include <climits>
#include <string>

inline int DecimalToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\v' || text[i] == '\f' || text[i] == '\r'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}
