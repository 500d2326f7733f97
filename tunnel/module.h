// Module-wide state of the tunnel module: one copy per loaded module, set up when the
// module is loaded.
#pragma once

#include <windows.h>

#include <string>

class CWorker;

// The values of the last StartConnect; only host, user name and password are dialled.
struct ConnectParams {
  std::string serverHost;
  std::string serverName;
  std::string reserved;
  std::string userName;
  std::string password;
  int reservedNumber;
};

const size_t kHostDirSize = 512;
const size_t kClientIpSize = 16;
const size_t kErrorTextSize = 1024;

extern char g_szHostDir[kHostDirSize];
// Dotted client tunnel address; empty while not connected. Written by the worker only.
extern char g_szClientIp[kClientIpSize];
extern char g_szErrorText[kErrorTextSize];
// Last dial-progress text; written on the dial-up service's thread before it posts.
extern char g_szStatusText[64];

// Published when the object is built (the exports use it) and again when its thread runs
// (the dial-progress callback and the hang-up use that one).
extern CWorker* g_pWorker;
extern CWorker* volatile g_pRunningWorker;

ConnectParams CopyConnectParams();
void StoreConnectParams(const ConnectParams& params);

// "<host dir>\cache\velanet_<n>.pbk"
std::string PhonebookPath(int serial);
