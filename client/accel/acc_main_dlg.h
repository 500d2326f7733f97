// The acceleration page: owns the tunnel module for its life and drives one acceleration
// at a time (account check, dial, routes, game launch, disconnect) from the messages of
// the tunnel module and of the background worker. It never blocks: the long work runs on
// the module's thread and on the worker.
#pragma once

#include <windows.h>

#include <string>

#include "client/ui/dialog_base.h"
#include "tunnel/tunnel_api.h"

class CSkinHtmlView;

// The page posts these to itself.
#define WM_SHOW_ACCOUNT (WM_USER + 201)
#define WM_UI_DIALING (WM_USER + 202)
#define WM_UI_CONNECTED (WM_USER + 203)
#define WM_UI_DISCONNECTED (WM_USER + 205)
#define WM_UI_FAILED (WM_USER + 206)
// Sent to the page's parent when the line was lost or came back by itself, with the status
// text in lParam: a player inside a game has the window hidden and must hear of it.
#define WM_ACC_NOTICE (WM_USER + 207)

class CAccMainDlg : public CDialogBase {
 public:
  // Loads the tunnel module that fits the Windows version.
  CAccMainDlg();
  ~CAccMainDlg() override;

  // The module file for a Windows version: only 6.1 takes the Windows 7 build.
  static const char* TunnelModuleName(DWORD major, DWORD minor);
  // The chosen line's name and group in the line label; nothing while no line is chosen.
  void ShowSelectedLine();
  // Whether a line may be chosen now: the menu command follows the page's line button.
  bool LineChoiceAllowed() const;
  // The tray's connect and disconnect follow the page's buttons and do what they do.
  bool ConnectAllowed() const;
  bool DisconnectAllowed() const;
  void Connect();
  void Disconnect();
  // WM_POWERBROADCAST of the main window.
  void OnPowerEvent(WPARAM event);

 protected:
  BOOL OnInitDialog() override;
  void OnDestroy() override;

 private:
  void OnConnect();
  void OnDisconnect();
  void OnSelectLine();
  void FillGameList();
  void OpenErrorPage(int errNo, int code, int lineId);
  void SetStatus(const char* text);
  void OfferGameLaunch();
  void SetIdle();
  void TunnelAnswered();
  void Notice(const char* text);
  // After a lost line: the next try, or the end of trying.
  void ScheduleReconnect();
  void CancelReconnect();
  // A try that has run: failed ones lead to the next.
  void ReconnectFailed();
  void RunReconnect();
  void CheckResume();

  LRESULT OnTunnelConnected(WPARAM, LPARAM);
  LRESULT OnTunnelError(WPARAM, LPARAM);
  LRESULT OnTunnelDisconnected(WPARAM, LPARAM);
  LRESULT OnTunnelDialing(WPARAM, LPARAM);
  LRESULT OnTunnelClosing(WPARAM, LPARAM);
  LRESULT OnTunnelStatus(WPARAM, LPARAM);
  LRESULT OnAccountVerified(WPARAM, LPARAM);
  LRESULT OnAccountRejected(WPARAM, LPARAM);
  LRESULT OnRouteFailed(WPARAM, LPARAM);
  LRESULT OnOtherVpn(WPARAM, LPARAM);
  LRESULT OnTrafficText(WPARAM, LPARAM);
  LRESULT OnShowAccount(WPARAM, LPARAM);
  LRESULT OnUiDialing(WPARAM, LPARAM);
  LRESULT OnUiConnected(WPARAM, LPARAM);
  LRESULT OnUiIdle(WPARAM, LPARAM);
  LRESULT OnTimer(WPARAM, LPARAM);

  CSkinHtmlView* m_pView;
  HMODULE m_hModule;
  PFN_InitCoreApi m_pfnInit;
  PFN_UninitCoreApi m_pfnUninit;
  PFN_StartConnect m_pfnStart;
  PFN_CloseConnect m_pfnClose;
  PFN_TimerNotification m_pfnTimer;
  PFN_GetConnectionIp m_pfnGetIp;
  // The line of the account check that released the last dial: the line that the tunnel's
  // messages are about, whatever has been chosen since.
  int m_dialLine;
  // Reconnection after a lost line: the number of the try waiting or running (0: none),
  // whether one is running, when the line was lost, and the game chosen then.
  int m_reconnectTry;
  bool m_reconnectRunning;
  DWORD m_lostAt;
  LRESULT m_lostGame;
  // Suspended while connecting or connected: the connection comes back after the resume,
  // once the PC has a default route again (or after a while without one).
  bool m_suspended;
  bool m_resumeWanted;
  DWORD m_resumedAt;

  DECLARE_DIALOG_MESSAGE_MAP()
};
