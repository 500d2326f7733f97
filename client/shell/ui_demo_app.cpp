#include "client/shell/ui_demo_app.h"

#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "client/account/config_store.h"
#include "client/account/login_dialog.h"
#include "client/shell/main_frame.h"
#include "client/shell/one_client.h"
#include "client/shell/resource.h"
#include "client/ui/dialog_base.h"
#include "client/ui/message_box.h"
#include "client/web/skin_html_view.h"
#include "common/dir_trust_win.h"

namespace {

typedef void(WINAPI* PFN_DllStartWorker)(HWND notifyWindow);

// Libraries of the program directory that stay loaded until the process ends.
HMODULE LoadFromProgramDir(const char* name) {
  // No program folder known: a bare name would be searched for, which is not our file.
  if (ConfigStore().ProgramDir()[0] == '\0') return nullptr;
  std::string path = std::string(ConfigStore().ProgramDir()) + "\\" + name;
  return LoadLibraryA(path.c_str());
}

HWND g_mainFrame = nullptr;

BOOL CALLBACK RaiseThreadWindow(HWND wnd, LPARAM) {
  if (!IsWindowVisible(wnd) || GetWindow(wnd, GW_OWNER)) return TRUE;
  if (IsIconic(wnd)) ShowWindow(wnd, SW_RESTORE);
  SetForegroundWindow(wnd);
  return FALSE;
}

// A second start asks for the client: the main window, out of the tray as well, or before
// it exists the login dialog (or whatever window of start-up is up).
void ShowClient() {
  if (g_mainFrame && IsWindow(g_mainFrame)) {
    SendMessageA(g_mainFrame, WM_COMMAND, ID_TRAY_SHOW, 0);
    return;
  }
  EnumThreadWindows(GetCurrentThreadId(), &RaiseThreadWindow, 0);
}

}  // namespace

CUiDemoApp::CUiDemoApp() : m_oleStarted(false) {}

CUiDemoApp::~CUiDemoApp() {}

BOOL CUiDemoApp::InitInstance() {
  COneClient::ListenForSecondStarts(&ShowClient);
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xFF;
  InitCommonControlsEx(&controls);

  if (FAILED(OleInitialize(nullptr))) {
    char text[256] = "";
    LoadStringA(ResourceInstance(), IDS_OLE_INIT_FAILED, text, sizeof text);
    AccelMessageBox(nullptr, text, nullptr, MB_ICONERROR);
    return FALSE;
  }
  m_oleStarted = true;
  // The web views host their control themselves; the settings live in user.ini, so the
  // registry key "VelaVPN" of the framework holds nothing of ours.

  CConfigStore& store = ConfigStore();
  store.LoadSettings();

  // Before the first library of the folder: one that others may change still runs the
  // client, but loads nothing it can do without.
  const bool folderTrusted = CheckProgramDir(store.ProgramDir());
  if (HMODULE collector = LoadFromProgramDir("IpCollect.dll")) {
    PFN_DllStartWorker start = reinterpret_cast<PFN_DllStartWorker>(
        reinterpret_cast<void*>(GetProcAddress(collector, "DllStartWorker")));
    if (start) start(nullptr);
  }
  // Loaded for its own start-up only; nothing in it is called, and it is never freed.
  if (folderTrusted) LoadFromProgramDir("HostProbe.dll");

  CLoginDialog login;
  if (login.DoModal(nullptr) != IDOK) return FALSE;

  m_pMainWnd.reset(new CMainFrame);
  if (!m_pMainWnd->Create()) {
    m_pMainWnd.reset();
    return FALSE;
  }
  g_mainFrame = m_pMainWnd->GetSafeHwnd();
  ShowWindow(m_pMainWnd->GetSafeHwnd(), SW_SHOW);
  UpdateWindow(m_pMainWnd->GetSafeHwnd());
  return TRUE;
}

int CUiDemoApp::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    HWND page = m_pMainWnd ? m_pMainWnd->ActivePage() : nullptr;
    if (PreTranslateDialogMessage(page, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

int CUiDemoApp::ExitInstance() {
  g_mainFrame = nullptr;
  m_pMainWnd.reset();
  if (m_oleStarted) OleUninitialize();
  return 0;
}
