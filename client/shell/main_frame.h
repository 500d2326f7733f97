// The main window: a fixed-size frame with a menu, a tool bar of large buttons switching
// between full-size pages, and the notification-area icon. Closing it hides it; only the
// exit command ends the program.
#pragma once

#include <windows.h>

#include <memory>

#include "client/accel/acc_main_dlg.h"
#include "client/shell/tray_icon.h"
#include "client/ui/frame_base.h"

class CMainFrame : public CFrameBase {
 public:
  static const char* ClassName() { return "AccelMainFrame"; }
  static const char* Title() { return "Vela网游加速器 V2.1"; }
  static const int kPageCount = 8;

  CMainFrame();
  ~CMainFrame() override;

  BOOL Create();
  // The visible page, for the message loop's dialog keys.
  HWND ActivePage() const;

 private:
  LRESULT OnCreate(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  LRESULT OnClose(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
  LRESULT OnSetFocus(WPARAM, LPARAM);
  LRESULT OnTrayNotify(WPARAM, LPARAM);
  LRESULT OnInitMenuPopup(WPARAM, LPARAM);
  LRESULT OnNotify(WPARAM, LPARAM);
  LRESULT OnQueryEndSession(WPARAM, LPARAM);
  LRESULT OnEndSession(WPARAM, LPARAM);
  LRESULT OnPowerBroadcast(WPARAM, LPARAM);
  LRESULT OnAccNotice(WPARAM, LPARAM);

  void ShowPage(int index);
  void OnShowAccel() { ShowPage(0); }
  void OnShowGameTool() { ShowPage(1); }
  void OnShowRecharge() { ShowPage(2); }
  void OnShowBuyCards() { ShowPage(3); }
  void OnShowHotGames() { ShowPage(4); }
  void OnShowHelp() { ShowPage(5); }
  void OnShowAkVoice() { ShowPage(6); }
  void OnShowDebug() { ShowPage(7); }
  void OnSelectLine();
  void OnNetTuning();
  void OnClearAccount();
  void OnViewLog();
  void OnVisitSite();
  void OnAbout();
  void OnShowWindow();
  void OnExit();
  void OnTrayConnect() { m_accMain.Connect(); }
  void OnTrayDisconnect() { m_accMain.Disconnect(); }
  bool CreateToolBar();

  HWND m_toolBar;
  HIMAGELIST m_toolImages;
  CTrayIcon m_tray;
  // In the order of the tool bar's pages: acceleration, tools, recharge, cards, hot games,
  // help, voice, diagnostics.
  CAccMainDlg m_accMain;
  std::unique_ptr<CDialogBase> m_pages[kPageCount];
  int m_activePage;

  DECLARE_FRAME_MESSAGE_MAP()
};
