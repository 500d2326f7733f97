#include "client/web/web_page_dlg.h"

#include <string>

#include "client/account/config_store.h"
#include "client/shell/resource.h"
#include "client/web/desktop_shell.h"
#include "client/web/nav_policy.h"
#include "client/web/skin_html_view.h"
#include "common/run_log.h"

CWebPageDlg::CWebPageDlg(UINT templateId, int placeholder, const char* path)
    : CDialogBase(templateId), m_pView(new CSkinHtmlView), m_placeholder(placeholder),
      m_path(path) {}

CWebPageDlg::~CWebPageDlg() { delete m_pView; }

BOOL CWebPageDlg::OnInitDialog() {
  const CConfigStore& store = ConfigStore();
  RECT rc = {0, 0, 0, 0};
  GetClientRect(Item(m_placeholder), &rc);
  m_pView->Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, rc, m_hWnd,
                  static_cast<UINT>(m_placeholder));
  std::string url = store.ClientPageUrl(m_path);
  SetIdentityCookie(url, "uid", store.m_accountUser);
  SetIdentityCookie(url, "app", std::to_string(store.m_modeApp));
  m_pView->OpenUrl(url);
  return TRUE;
}

CGameToolDlg::CGameToolDlg() : CWebPageDlg(IDD_GAME_TOOL, IDC_PAGE_WEB, "/tools.php") {}
CRechargeDlg::CRechargeDlg() : CWebPageDlg(IDD_RECHARGE, IDC_PAGE_WEB, "/new_recharge.php") {}
CBuyCardsDlg::CBuyCardsDlg() : CWebPageDlg(IDD_BUY_CARDS, IDC_PAGE_WEB, "/game_cards.php") {}
CHotGamesDlg::CHotGamesDlg() : CWebPageDlg(IDD_HOT_GAMES, IDC_PAGE_WEB, "/hot_games.php") {}
CHelpDlg::CHelpDlg() : CWebPageDlg(IDD_HELP, IDC_PAGE_WEB, "/new_help.php") {}
CAkVoiceDlg::CAkVoiceDlg() : CWebPageDlg(IDD_AK_VOICE, IDC_PAGE_WEB, "/ak_voice.php") {}

CWebAddressDlg::CWebAddressDlg(const std::string& url)
    : CDialogBase(IDD_WEB_ADDRESS), m_pView(new CSkinHtmlView), m_url(url) {}

CWebAddressDlg::~CWebAddressDlg() { delete m_pView; }

BOOL CWebAddressDlg::OnInitDialog() {
  SetWindowTextA(m_hWnd, m_url.c_str());
  m_pView->CreateOverControl(IDC_PAGE_WEB, m_hWnd);
  m_pView->OpenUrl(m_url);
  return TRUE;
}

void OpenWebAddress(HWND owner, const std::string& url, const std::string& program) {
  const std::string address = nav::UserBrowserAddress(url);
  if (address.empty()) {
    CRunLog::Write("网址无效，未打开：%.200s\r\n", url.c_str());
    return;
  }
  const bool opened = program.empty() ? ShellExecuteAsDesktopUser(address, "")
                                      : ShellExecuteAsDesktopUser(program, "\"" + address + "\"");
  if (opened) return;
  CWebAddressDlg page(address);
  page.DoModal(owner);
}
