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
// 1 from the moment TimerNotification posts a tick until the worker has handled it: a
// Windows 7 tick can block for seconds, and ticks must never queue up behind it.
extern volatile LONG g_lTickPending;

// Published when the object is built (the exports use it) and again when its thread runs
// (the dial-progress callback and the hang-up use that one).
extern CWorker* g_pWorker;
extern CWorker* volatile g_pRunningWorker;

ConnectParams CopyConnectParams();
void StoreConnectParams(const ConnectParams& params);

// "<host dir>\cache\velanet_<n>.pbk"
std::string PhonebookPath(int serial);
