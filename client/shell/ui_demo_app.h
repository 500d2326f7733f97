// The application object: start-up in its fixed order (controls, OLE, settings, the
// collector and probe libraries, the login), then the main window and its message loop.
#pragma once

#include <windows.h>

#include <memory>

class CMainFrame;

class CUiDemoApp {
 public:
  CUiDemoApp();
  ~CUiDemoApp();

  // False ends the program at once (OLE failed, login cancelled, no main window).
  BOOL InitInstance();
  int Run();
  int ExitInstance();

 private:
  std::unique_ptr<CMainFrame> m_pMainWnd;
  bool m_oleStarted;
};
