#include "common/text_format.h"

#include <cstdio>
#include <cstring>
#include <vector>

std::string VFormat(const char* fmt, va_list ap) {
  va_list probe;
  va_copy(probe, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, probe);
  va_end(probe);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), fmt, ap);
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return s;
}

size_t VFormatCut(char* buf, size_t cap, const char* fmt, va_list ap) {
  if (cap == 0) return 0;
  int n = std::vsnprintf(buf, cap, fmt, ap);
  // Some C runtimes answer -1 on overflow and leave the end unterminated.
  buf[cap - 1] = '\0';
  if (n < 0) return std::strlen(buf);
  return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

size_t FormatCut(char* buf, size_t cap, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  size_t n = VFormatCut(buf, cap, fmt, ap);
  va_end(ap);
  return n;
}

size_t CopyCut(char* dst, size_t cap, const char* src) {
  if (cap == 0) return 0;
  size_t n = src ? std::strlen(src) : 0;
  if (n > cap - 1) n = cap - 1;
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
  return n;
}

std::string FormatLogPrefix(const LogTime& t) {
  char buf[64];
  FormatCut(buf, sizeof buf, "[%d/%02d/%02d %02d:%02d:%02d.%03d] ", t.year, t.month, t.day, t.hour,
            t.minute, t.second, t.millis);
  return buf;
}

namespace {

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

}  // namespace

std::string ShowControlBytes(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

bool IsWholeGbk(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (!IsLeadByte(static_cast<unsigned char>(text[i]))) continue;
    if (i + 1 >= text.size() || !IsTrailByte(static_cast<unsigned char>(text[i + 1]))) return false;
    ++i;
  }
  return true;
}

bool QuoteCommandArg(const std::string& arg, std::string* quoted) {
  if (!IsWholeGbk(arg)) return false;
  std::string out = "\"";
  size_t backslashes = 0;
  for (size_t i = 0; i < arg.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(arg[i]);
    if (IsLeadByte(c)) {
      out.append(backslashes, '\\');
      backslashes = 0;
      out += arg[i];
      out += arg[++i];
      continue;
    }
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += static_cast<char>(c);
  }
  // Backslashes before the closing quote must be doubled, or they would escape it.
  out.append(backslashes * 2, '\\');
  out += '"';
  quoted->swap(out);
  return true;
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool IsRasdialSwitch(const std::string& value) {
  return (!value.empty() && (value[0] == '/' || value[0] == '-')) || value == "*";
}
