// The tunnel module's worker thread: owns the connection state, runs the dial-up work and
// tells the host window what happens.
#pragma once

#include <windows.h>
#include <ras.h>

#include "common/ui_thread.h"

// Thread messages to the worker.
#define WM_CORE_START (WM_USER + 2)
#define WM_CORE_CLOSE (WM_USER + 3)
#define WM_CORE_EXIT (WM_USER + 4)
#define WM_CORE_SETWND (WM_USER + 5)
#define WM_CORE_ERROR (WM_USER + 6)         // code, 0
#define WM_CORE_CONNECTED (WM_USER + 7)     // 0, 0
#define WM_CORE_DISCONNECTED (WM_USER + 8)  // reason, reason
#define WM_CORE_STATUS (WM_USER + 9)        // dial state, progress text
#define WM_CORE_TIMER (WM_USER + 10)

class CWorker : public CUiThread {
 public:
  CWorker();
  const char* GetRuntimeClassName() const override;
  ~CWorker() override;
  BOOL InitInstance() override;
  int ExitInstance() override;

  HANDLE ExitEvent() const { return m_hExitEvent; }

  HANDLE m_hExitEvent;
  HRASCONN m_hRasConn;
  int m_bConnected;
  int m_bConnecting;
#ifdef TUNNEL_W7
  unsigned int m_nWaitTicks;
#else
  // Status checks in a row that found the connection gone: one alone may be a moment
  // when the service is busy.
  unsigned int m_nLostChecks;
#endif
  HWND m_hUiWnd;

 private:
  void OnStart(WPARAM, LPARAM);
  void OnClose(WPARAM, LPARAM);
  void OnExit(WPARAM, LPARAM);
  void OnSetWnd(WPARAM, LPARAM);
  void OnError(WPARAM, LPARAM);
  void OnConnected(WPARAM, LPARAM);
  void OnDisconnected(WPARAM, LPARAM);
  void OnStatus(WPARAM, LPARAM);
  void OnTimer(WPARAM, LPARAM);

  void ReportError(DWORD code);
  void ReportConnected();
  void ReportLost();
  void PostUi(UINT message, WPARAM wParam, LPARAM lParam);

  DECLARE_THREAD_MESSAGE_MAP()
};
