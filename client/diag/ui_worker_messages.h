// Thread messages to the client's background worker, and its answers to the requesting
// window (the window travels in lParam of every request).
#pragma once

#include <windows.h>

#define WM_WORKER_CONNECT (WM_USER + 101)       // -1 or line id
#define WM_WORKER_APPLY_ROUTES (WM_USER + 103)  // 0
#define WM_WORKER_TICK (WM_USER + 104)          // interface index to measure
#define WM_WORKER_REPORT (WM_USER + 105)        // message number for output chunks
#define WM_WORKER_PING (WM_USER + 106)          // line id

#define WM_ACCOUNT_VERIFIED (WM_USER + 111)
#define WM_ACCOUNT_REJECTED (WM_USER + 112)  // result, origin (below)
#define WM_PING_RESULT (WM_USER + 113)    // result code, echo time in ms
#define WM_ROUTE_FAILED (WM_USER + 114)
#define WM_TRAFFIC_TEXT (WM_USER + 115)   // 0, traffic text
#define WM_OTHER_VPN (WM_USER + 116)      // the routes are set, another VPN may take traffic

// lParam of WM_ACCOUNT_REJECTED: who decided. A server's result may be any 32-bit value, as
// wide as wParam on the 32-bit build, so the client's own outcome (no login server answered,
// nothing to check against) cannot be told apart by wParam and is marked here instead.
const LPARAM kRejectedByServer = 0;
const LPARAM kRejectedNoAnswer = 1;

// WM_PING_RESULT codes.
enum PingResult {
  kPingOk = 0,
  kPingNoSocket = 99,
  kPingNotSent = 100,
  kPingNoAnswer = 101,
};
