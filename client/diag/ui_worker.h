// The client's background thread: every job that may block for seconds (network
// exchanges, pings, routing-table work, system commands) arrives here as a thread message,
// and the answer goes back to the window named in the request.
#pragma once

#include <windows.h>

#include "client/accel/route_manager.h"
#include "client/diag/traffic_meter.h"
#include "client/diag/ui_worker_messages.h"
#include "common/ui_thread.h"

class CConfigStore;
class CSyncSocket;

// Starts the background worker for a store: the starter the program hands to its store
// (ConfigStore(&StartUiWorker)), run as the last step of the store's construction. The
// running thread, or null when it could not be started.
CUiThread* StartUiWorker(CConfigStore* store);

// The latency check's wait for a packet on its raw socket: the socket's own receive,
// unless a test has put another in place (a test must never send echo requests to
// anything but loopback, so the no-answer paths are reached through this).
class IEchoReceive {
 public:
  virtual ~IEchoReceive() {}
  // CSyncSocket::Receive semantics: bytes received, 0 on time-out, negative on error.
  virtual int Receive(CSyncSocket& socket, char* buffer, int size, int timeoutMs) = 0;
};
void SetEchoReceive(IEchoReceive* receive);  // null restores the socket's own

class CUiWorker : public CUiThread {
 public:
  // The store whose lines the jobs use and whose settings the worker saves when it ends.
  explicit CUiWorker(CConfigStore* store);
  const char* GetRuntimeClassName() const override;
  ~CUiWorker() override;
  BOOL InitInstance() override;
  int ExitInstance() override;

 private:
  void OnTick(WPARAM interfaceIndex, LPARAM window);
  void OnPing(WPARAM lineId, LPARAM window);
  void OnApplyRoutes(WPARAM, LPARAM window);
  void OnConnect(WPARAM lineId, LPARAM window);
  // The diagnostic report; its output goes to window with message number `message`.
  void OnReport(WPARAM message, LPARAM window);

  CConfigStore* m_store;
  TrafficMeter m_traffic;
  // The interface the meter counts: the former default route's, which a new network moves.
  DWORD m_meterIfIndex = 0;
  CRouteManager m_routes;

  DECLARE_THREAD_MESSAGE_MAP()
};
