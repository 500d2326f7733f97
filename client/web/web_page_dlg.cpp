#include "client/web/web_page_dlg.h"

#include <string>

#include "client/account/config_store.h"
#include "client/shell/resource.h"
#include "client/web/skin_html_view.h"

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
