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

  LRESULT OnTunnelConnected(WPARAM, LPARAM);
  LRESULT OnTunnelError(WPARAM, LPARAM);
  LRESULT OnTunnelDisconnected(WPARAM, LPARAM);
  LRESULT OnTunnelDialing(WPARAM, LPARAM);
  LRESULT OnTunnelClosing(WPARAM, LPARAM);
  LRESULT OnTunnelStatus(WPARAM, LPARAM);
  LRESULT OnAccountVerified(WPARAM, LPARAM);
  LRESULT OnAccountRejected(WPARAM, LPARAM);
  LRESULT OnRouteFailed(WPARAM, LPARAM);
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

  DECLARE_DIALOG_MESSAGE_MAP()
};
