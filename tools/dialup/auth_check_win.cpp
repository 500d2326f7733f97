#include "tools/dialup/auth_check.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>

#include "common/text_format.h"
#include "tools/dialup/stand_in_port.h"

namespace dialup {
namespace {

const DWORD kTimeoutMs = 5000;

struct CInternetHandle {
  explicit CInternetHandle(HINTERNET h) : h(h) {}
  ~CInternetHandle() {
    if (h) InternetCloseHandle(h);
  }
  HINTERNET h;
};

}  // namespace

namespace {

// One GET of target (path and query) from the stand-in. False when no HTTP answer came;
// otherwise the status and the first bytes of the body, trailing line ends and blanks cut.
bool AskStandIn(const std::string& target, DWORD* status, std::string* body) {
  std::string url = Format("http://127.0.0.1:%u%s", StandInWebPort(), target.c_str());
  // Direct: a proxy set up for the browser must not answer for the loopback stand-in.
  CInternetHandle session(InternetOpenA("AccelDialup", INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                        nullptr, 0));
  if (!session.h) return false;
  DWORD timeout = kTimeoutMs;
  InternetSetOptionA(session.h, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(session.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  InternetSetOptionA(session.h, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                      INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                      INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
  CInternetHandle request(InternetOpenUrlA(session.h, url.c_str(), nullptr, 0, flags, 0));
  if (!request.h) return false;

  DWORD size = sizeof *status;
  if (!HttpQueryInfoA(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status,
                      &size, nullptr)) {
    return false;
  }
  // Only the first bytes matter; a longer body is no answer the callers know.
  char buf[32];
  DWORD total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.h, buf + total, sizeof buf - 1 - total, &got) || got == 0) {
      break;
    }
    total += got;
    if (total >= sizeof buf - 1) break;
  }
  body->assign(buf, total);
  while (!body->empty() &&
         (body->back() == '\r' || body->back() == '\n' || body->back() == ' ')) {
    body->pop_back();
  }
  return true;
}

}  // namespace

AuthResult CheckCredentials(const char* user, const char* password) {
  std::string target = Format("/vpn_auth.php?user=%s&pass=%s", PercentEncode(user ? user : "").c_str(),
                              PercentEncode(password ? password : "").c_str());
  DWORD status = 0;
  std::string body;
  if (!AskStandIn(target, &status, &body)) return kAuthUnreachable;
  return status == 200 && body == "OK" ? kAuthOk : kAuthDenied;
}

bool TunnelUp(const char* client, const char* server, DWORD dropMs) {
  std::string target = Format("/_tunnel?up=%s&server=%s", PercentEncode(client).c_str(),
                              PercentEncode(server).c_str());
  if (dropMs) target += Format("&drop_ms=%lu", static_cast<unsigned long>(dropMs));
  DWORD status = 0;
  std::string body;
  return AskStandIn(target, &status, &body) && status == 200 && body == "OK";
}

void TunnelDown(const char* client) {
  DWORD status = 0;
  std::string body;
  AskStandIn(Format("/_tunnel?down=%s", PercentEncode(client).c_str()), &status, &body);
}

}  // namespace dialup
