#include "client/web/nav_policy.h"

#include <cstddef>

namespace nav {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The scheme of url in lower case, "" when the address does not begin with one (letters,
// digits, "+", "-", "." after a first letter, then ":").
std::string SchemeOf(const std::string& url) {
  if (url.empty() || !IsAlpha(url[0])) return "";
  std::string scheme;
  for (size_t i = 0; i < url.size(); ++i) {
    char c = url[i];
    if (c == ':') return scheme;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return "";
    scheme += Lower(c);
  }
  return "";
}

const size_t kMaxUserAddress = 2048;

}  // namespace

bool IsViewAddress(const std::string& url) {
  const std::string scheme = SchemeOf(url);
  return scheme == "http" || scheme == "https" || scheme == "about";
}

std::string UserBrowserAddress(const std::string& url) {
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https") return "";
  const size_t hostAt = scheme.size() + 3;
  if (url.compare(scheme.size(), 3, "://") != 0 || url.size() <= hostAt) return "";
  const char first = url[hostAt];
  if (first == '/' || first == '\\' || first == '?' || first == '#') return "";
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c < 0x20 || c == 0x7f) return "";
    if (c >= 0x80 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out.size() <= kMaxUserAddress ? out : "";
}

}  // namespace nav
