// The simulated service's line to the local service stand-in, on 127.0.0.1 (port from the
// environment variable ACCEL_STUB_WEB_PORT, default 80): the password check, which the
// stand-in answers because it knows the accounts (GET /vpn_auth.php?user=U&pass=P, body "OK"
// or "DENY"), and the tunnel interface of the simulated network (GET /_tunnel?...), which
// only a stand-in that runs the simulated network carries out.
#pragma once

#include <windows.h>

#include <string>

namespace dialup {

enum AuthResult {
  kAuthOk,
  kAuthDenied,       // "DENY", or any answer that is not a plain "OK"
  kAuthUnreachable,  // no HTTP answer at all
};

AuthResult CheckCredentials(const char* user, const char* password);

// Asks the stand-in to bring up the tunnel interface with the client's address, peer the
// server's, to be removed by the stand-in itself dropMs later (0: never). Waits for the
// answer. True only when the interface was made (status 200, body "OK"); a stand-in without
// the simulated network (404) or none at all gives false, and the dial goes on without it.
bool TunnelUp(const char* client, const char* server, DWORD dropMs);

// Asks the stand-in to remove the tunnel interface if it carries the client's address.
void TunnelDown(const char* client);

}  // namespace dialup
