#include "tunnel/worker.h"

#include "common/run_log.h"
#include "common/text_format.h"
#include "tunnel/dialup.h"
#include "tunnel/module.h"
#include "tunnel/ras_api.h"
#include "tunnel/tunnel_api.h"

BEGIN_THREAD_MESSAGE_MAP(CWorker)
ON_THREAD_MESSAGE(WM_CORE_START, &CWorker::OnStart)
ON_THREAD_MESSAGE(WM_CORE_CLOSE, &CWorker::OnClose)
ON_THREAD_MESSAGE(WM_CORE_EXIT, &CWorker::OnExit)
ON_THREAD_MESSAGE(WM_CORE_SETWND, &CWorker::OnSetWnd)
ON_THREAD_MESSAGE(WM_CORE_ERROR, &CWorker::OnError)
ON_THREAD_MESSAGE(WM_CORE_CONNECTED, &CWorker::OnConnected)
ON_THREAD_MESSAGE(WM_CORE_DISCONNECTED, &CWorker::OnDisconnected)
ON_THREAD_MESSAGE(WM_CORE_STATUS, &CWorker::OnStatus)
ON_THREAD_MESSAGE(WM_CORE_TIMER, &CWorker::OnTimer)
END_THREAD_MESSAGE_MAP(CWorker)

CWorker::CWorker()
    : m_hExitEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hRasConn(nullptr),
      m_bConnected(0),
      m_bConnecting(0),
#ifdef TUNNEL_W7
      m_nWaitTicks(0),
#else
      m_nLostChecks(0),
#endif
      m_hUiWnd(nullptr) {
}

const char* CWorker::GetRuntimeClassName() const { return "CWorker"; }

CWorker::~CWorker() {
  if (m_hExitEvent) CloseHandle(m_hExitEvent);
}

BOOL CWorker::InitInstance() {
  WriteLog("Worker thread started.\r\n");
  g_pRunningWorker = this;
  ResetEvent(m_hExitEvent);
  StartDialServices();
  // Only one client runs at a time, so a connection of our entry that exists now was left
  // by one that ended without hanging up.
  HangUpLeftovers();
  return TRUE;
}

int CWorker::ExitInstance() {
  if (m_bConnected == 1) {
    PostUi(WM_TUNNEL_CLOSING, 0, 0);
    HangUp(&m_hRasConn);
    m_bConnected = 0;
    m_bConnecting = 0;
  }
  else if (m_bConnecting == 1) {
#ifdef TUNNEL_W7
    // The dial command would bring the line up after the client has gone, with nobody
    // to route it or to take it down.
    AbandonDial();
#else
    // A dial still under way would call back into this module after the host has
    // unloaded it: cancel it before the thread lets the module go.
    HangUp(&m_hRasConn);
#endif
    m_bConnecting = 0;
  }
#ifdef TUNNEL_W7
  ForgetHangUpCommand();
#endif
  g_pRunningWorker = nullptr;
  SetEvent(m_hExitEvent);
#ifdef TUNNEL_W7
  WriteLog("Worker thread ended!!\r\n");
#else
  WriteLog("工作线程退出!!\r\n");
#endif
  return 0;
}

void CWorker::PostUi(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!m_hUiWnd) {
    WriteLog("发送UI消息失败，窗口未设置！\r\n");
    return;
  }
  PostMessageA(m_hUiWnd, message, wParam, lParam);
}

void CWorker::OnStart(WPARAM, LPARAM) {
  if (m_bConnected == 1) {
    WriteLog("已经连接上加速网络，不能同时连接多个加速服务器\r\n");
    return;
  }
  if (m_bConnecting == 1) {
    WriteLog("已经在连接过程中，需要等待连接完成...\r\n");
    return;
  }
  m_bConnecting = 1;
  PostUi(WM_TUNNEL_DIALING, 0, 0);
  ConnectParams params = CopyConnectParams();
  // The host comes from the service's line list.
  WriteLog("选择服务器：%s，开始连接。\r\n", ShowControlBytes(params.serverHost).c_str());
  DWORD code = Dial(params.serverHost.c_str(), params.userName.c_str(), params.password.c_str(),
                    &m_hRasConn);
  if (code != 0) PostUi(WM_TUNNEL_ERROR, code, 0);
}

void CWorker::ReportError(DWORD code) {
  WriteLog("连接失败，错误代码：%d\r\n", static_cast<int>(code));
  // The service also reports the end of a live connection this way: left connected, the
  // module would refuse every later start and answer the dead address until a restart.
  m_bConnected = 0;
  m_bConnecting = 0;
  g_szClientIp[0] = '\0';
#ifdef TUNNEL_W7
  // A dial given up after its wait may still come up later, as a line nobody uses.
  if (code == 800) AbandonDial();
  m_nWaitTicks = 0;
#else
  // A dial that failed through the progress callback still holds its port until its
  // handle is hung up; left alone, the next dial can meet 756.
  if (m_hRasConn) ReleaseFailedDial(&m_hRasConn);
#endif
  g_szErrorText[0] = '\0';
  if (RasApi().GetErrorString(code, g_szErrorText, kErrorTextSize) != 0) g_szErrorText[0] = '\0';
  g_szErrorText[kErrorTextSize - 1] = '\0';
  PostUi(WM_TUNNEL_ERROR, code, reinterpret_cast<LPARAM>(g_szErrorText));
}

void CWorker::OnError(WPARAM wParam, LPARAM) { ReportError(static_cast<DWORD>(wParam)); }

void CWorker::ReportConnected() {
  m_bConnected = 1;
  m_bConnecting = 0;
#ifndef TUNNEL_W7
  m_nLostChecks = 0;
#endif
#ifdef TUNNEL_W7
  // The poll has just filled the address text.
  PostUi(WM_TUNNEL_CONNECTED, 0, reinterpret_cast<LPARAM>(g_szClientIp));
  m_nWaitTicks = 0;
#else
  FetchClientIp(m_hRasConn, g_szClientIp, kClientIpSize);
  WriteLog("连接成功，分配客户端IP：%s\r\n", g_szClientIp);
  PostUi(WM_TUNNEL_CONNECTED, 0, reinterpret_cast<LPARAM>(g_szClientIp));
#endif
}

void CWorker::OnConnected(WPARAM, LPARAM) { ReportConnected(); }

void CWorker::ReportLost() {
  WriteLog("加速连接已经中断.\r\n");
#ifndef TUNNEL_W7
  // Frees the port; the wait for the service to let the handle go is not this thread's:
  // it would hold up the page's next connect for as long as it takes.
  RasApi().HangUp(m_hRasConn);
  m_hRasConn = nullptr;
  m_nLostChecks = 0;
#endif
  m_bConnected = 0;
  m_bConnecting = 0;
  g_szClientIp[0] = '\0';
  PostUi(WM_TUNNEL_DISCONNECTED, 1, 1);
}

void CWorker::OnDisconnected(WPARAM wParam, LPARAM lParam) {
  m_bConnected = 0;
  m_bConnecting = 0;
  g_szClientIp[0] = '\0';
  PostUi(WM_TUNNEL_DISCONNECTED, wParam, lParam);
}

void CWorker::OnStatus(WPARAM wParam, LPARAM lParam) { PostUi(WM_TUNNEL_STATUS, wParam, lParam); }

void CWorker::OnSetWnd(WPARAM, LPARAM lParam) { m_hUiWnd = reinterpret_cast<HWND>(lParam); }

void CWorker::OnClose(WPARAM, LPARAM) {
  PostUi(WM_TUNNEL_CLOSING, 0, 0);
  HangUp(&m_hRasConn);
  m_bConnected = 0;
  m_bConnecting = 0;
}

void CWorker::OnExit(WPARAM, LPARAM) { EndMessageLoop(); }

void CWorker::OnTimer(WPARAM, LPARAM) {
#ifdef TUNNEL_W7
  // The poll fills a buffer of its own: the system's hang-up does not wait, so a poll right
  // after a close can still find the dying connection, and its address must not come back
  // into the client address text of an idle module.
  HRASCONN conn = m_hRasConn;
  char ip[kClientIpSize] = "";
  int polled = PollConnection(&conn, ip, sizeof ip);
  int found = polled == 1;
  if (m_bConnecting == 1 || m_bConnected == 1) {
    if (found) {
      m_hRasConn = conn;
      CopyCut(g_szClientIp, kClientIpSize, ip);
    }
  } else {
    found = 0;
  }
  if (m_bConnecting == 1) {
    ++m_nWaitTicks;
    if (found) {
      ReportConnected();
    } else if (m_nWaitTicks > 15) {
      ReportError(800);  // ERROR_AUTOMATIC_VPN_FAILED: the dial command never came up
    }
  }
  // A list that could not be read says nothing about the line.
  if (m_bConnected == 1 && polled == 0) ReportLost();
#else
  if (m_bConnected == 1) {
    if (ConnectionAlive(m_hRasConn))
      m_nLostChecks = 0;
    else if (++m_nLostChecks >= 2)
      ReportLost();
  }
#endif
  InterlockedExchange(&g_lTickPending, 0);
}
