// Thread messages to the client's background worker, and its answers to the requesting
// window (the window travels in lParam of every request).
#pragma once

#include <windows.h>

#define WM_WORKER_CONNECT (WM_USER + 101)       // -1 or line id
#define WM_WORKER_APPLY_ROUTES (WM_USER + 103)  // 0
#define WM_WORKER_TICK (WM_USER + 104)          // interface index to measure
#define WM_WORKER_REPORT (WM_USER + 105)        // message number for output chunks
#define WM_WORKER_PING (WM_USER + 106)          // line id, or kPingEveryLine

#define WM_ACCOUNT_VERIFIED (WM_USER + 111)
#define WM_ACCOUNT_REJECTED (WM_USER + 112)  // result, origin (below)
#define WM_PING_RESULT (WM_USER + 113)    // line id as asked, PingAnswer (below)
#define WM_ROUTE_FAILED (WM_USER + 114)
#define WM_TRAFFIC_TEXT (WM_USER + 115)   // 0, traffic text
#define WM_OTHER_VPN (WM_USER + 116)      // the routes are set, another VPN may take traffic

// lParam of WM_ACCOUNT_REJECTED: who decided. A server's result may be any 32-bit value, as
// wide as wParam on the 32-bit build, so the client's own outcome (no login server answered,
// nothing to check against) cannot be told apart by wParam and is marked here instead.
const LPARAM kRejectedByServer = 0;
const LPARAM kRejectedNoAnswer = 1;

// wParam of WM_WORKER_PING: every line of the list, checked together; each line's answer
// comes as soon as its own probes are done.
const WPARAM kPingEveryLine = static_cast<WPARAM>(-1);

// lParam of WM_PING_RESULT: in the high word how many of the line's echo requests were
// answered (0: none, the line timed out) or why none was sent; in the low word the median
// echo time in ms of the answers.
enum PingStatus {
  kPingNoSocket = 99,
  kPingNotSent = 100,
};
inline LPARAM PingAnswer(int status, int medianMs) {
  if (medianMs < 0) medianMs = 0;
  if (medianMs > 0xFFFF) medianMs = 0xFFFF;
  return static_cast<LPARAM>(MAKELONG(medianMs, status));
}
inline int PingStatusOf(LPARAM answer) { return HIWORD(static_cast<DWORD>(answer)); }
inline int PingMsOf(LPARAM answer) { return LOWORD(static_cast<DWORD>(answer)); }
