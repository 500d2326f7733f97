// The simulated service's password check: it asks the local service stand-in, which knows
// the accounts, with GET /vpn_auth.php?user=U&pass=P on 127.0.0.1 (port from the environment
// variable ACCEL_STUB_WEB_PORT, default 80). The answer body is "OK" or "DENY".
#pragma once

#include <string>

namespace dialup {

enum AuthResult {
  kAuthOk,
  kAuthDenied,       // "DENY", or any answer that is not a plain "OK"
  kAuthUnreachable,  // no HTTP answer at all
};

AuthResult CheckCredentials(const char* user, const char* password);

// Every byte outside the unreserved set as %XX (GBK bytes included), for a query value.
std::string UrlEncode(const std::string& text);

}  // namespace dialup
