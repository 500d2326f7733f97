#include "tools/dialup/auth_check.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>

#include "common/text_format.h"

namespace dialup {
namespace {

const DWORD kTimeoutMs = 5000;

unsigned StandInPort() {
  char buf[16];
  DWORD n = GetEnvironmentVariableA("ACCEL_STUB_WEB_PORT", buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return 80;
  char* end = nullptr;
  unsigned long port = std::strtoul(buf, &end, 10);
  if (end == buf || *end != '\0' || port == 0 || port > 65535) return 80;
  return static_cast<unsigned>(port);
}

struct CInternetHandle {
  explicit CInternetHandle(HINTERNET h) : h(h) {}
  ~CInternetHandle() {
    if (h) InternetCloseHandle(h);
  }
  HINTERNET h;
};

}  // namespace

std::string UrlEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

AuthResult CheckCredentials(const char* user, const char* password) {
  std::string url = Format("http://127.0.0.1:%u/vpn_auth.php?user=%s&pass=%s", StandInPort(),
                           UrlEncode(user ? user : "").c_str(),
                           UrlEncode(password ? password : "").c_str());
  // Direct: a proxy set up for the browser must not answer for the loopback stand-in.
  CInternetHandle session(InternetOpenA("AccelDialup", INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                        nullptr, 0));
  if (!session.h) return kAuthUnreachable;
  DWORD timeout = kTimeoutMs;
  InternetSetOptionA(session.h, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(session.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(session.h, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                      INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
  CInternetHandle request(InternetOpenUrlA(session.h, url.c_str(), nullptr, 0, flags, 0));
  if (!request.h) return kAuthUnreachable;

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr)) {
    return kAuthUnreachable;
  }
  // Only the first bytes matter; a longer body is not an "OK".
  char body[32];
  DWORD total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.h, body + total, sizeof body - 1 - total, &got) || got == 0) {
      break;
    }
    total += got;
    if (total >= sizeof body - 1) break;
  }
  body[total] = '\0';
  if (status != 200) return kAuthDenied;
  std::string text(body, total);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text == "OK" ? kAuthOk : kAuthDenied;
}

}  // namespace dialup
