#include "client/account/login_dialog.h"

#include "client/account/config_store.h"
#include "client/diag/ui_worker_messages.h"
#include "client/shell/resource.h"
#include "client/ui/message_box.h"
#include "client/web/skin_html_view.h"

BEGIN_DIALOG_MESSAGE_MAP(CLoginDialog)
ON_DIALOG_MESSAGE(WM_ACCOUNT_VERIFIED, &CLoginDialog::OnVerified)
ON_DIALOG_MESSAGE(WM_ACCOUNT_REJECTED, &CLoginDialog::OnRejected)
END_DIALOG_MESSAGE_MAP(CLoginDialog)

CLoginDialog::CLoginDialog() : CDialogBase(IDD_LOGIN), m_pView(new CSkinHtmlView) {}

CLoginDialog::~CLoginDialog() { delete m_pView; }

BOOL CLoginDialog::OnInitDialog() {
  CConfigStore& store = ConfigStore();
  SetWindowTextA(m_hWnd, Title());
  HICON icon = LoadIconA(ResourceInstance(), MAKEINTRESOURCEA(IDR_MAINFRAME));
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  m_pView->CreateOverControl(IDC_LOGIN_BANNER, m_hWnd);
  m_pView->ShowWindow(SW_SHOW);
  m_pView->OpenUrl(store.ClientPageUrl("/mini.php?c=main"));

  SetItemText(IDC_LOGIN_USER, store.m_userName);
  SetItemText(IDC_LOGIN_PASSWORD, store.m_password);
  Check(IDC_LOGIN_REMEMBER, store.m_remember != 0);
  Check(IDC_LOGIN_AUTO, store.m_autoLogin != 0);

  m_register.Attach(m_hWnd, IDC_LOGIN_REGISTER);
  m_register.SetLink(store.WebPageUrl("/register"), "注册帐号");
  m_changePassword.Attach(m_hWnd, IDC_LOGIN_CHANGEPW);
  m_changePassword.SetLink(store.WebPageUrl("/changepw"), "修改密码");

  if (store.m_autoLogin) OnOK();
  return TRUE;
}

namespace {

// The profile file gives a value back without blanks and control bytes at its ends, so a name
// kept with them could not be saved; trimmed before the check, the name that logs in is the
// one that is shown, saved and sent as the page cookie.
std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

const int kAccountInputs[] = {IDC_LOGIN_USER, IDC_LOGIN_PASSWORD, IDC_LOGIN_REMEMBER,
                              IDC_LOGIN_AUTO};

}  // namespace

void CLoginDialog::OnOK() {
  // Enter in an edit still reaches here while an exchange is running.
  if (!IsItemEnabled(IDOK)) return;
  CConfigStore& store = ConfigStore();
  std::string user = TrimBlanks(ItemText(IDC_LOGIN_USER));
  std::string password = ItemText(IDC_LOGIN_PASSWORD);
  if (!CConfigStore::IsUsableUserName(user)) {
    // Never kept: neither sent, nor made a cookie, nor saved.
    AccelMessageBox(m_hWnd, "请输入用户名、密码登录！", "输入错误", MB_ICONERROR);
    return;
  }
  SetItemText(IDC_LOGIN_USER, user);
  store.m_accountUser = user;
  store.m_accountPassword = password;
  store.m_userName = user;
  store.m_remember = IsChecked(IDC_LOGIN_REMEMBER) ? 1 : 0;
  store.m_autoLogin = IsChecked(IDC_LOGIN_AUTO) ? 1 : 0;
  if (store.m_remember) store.m_password = password;

  if (user.size() < 2 || password.size() < 2) {
    AccelMessageBox(m_hWnd, "请输入用户名、密码登录！", "输入错误", MB_ICONERROR);
    return;
  }
  // What the check answers for is what is saved: nothing of it may change while it runs.
  EnableAccountInputs(false);
  if (!store.PostToWorker(WM_WORKER_CONNECT, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(m_hWnd))) {
    // No worker to ask: the same as no login server answering.
    OnRejected(1, kRejectedNoAnswer);
  }
}

void CLoginDialog::EnableAccountInputs(bool enable) {
  // The login button goes off first and comes back last: whenever it can be pressed, what it
  // sends can be edited.
  if (!enable) EnableItem(IDOK, false);
  for (int id : kAccountInputs) EnableItem(id, enable);
  if (enable) EnableItem(IDOK, true);
}

LRESULT CLoginDialog::OnVerified(WPARAM, LPARAM) {
  CConfigStore& store = ConfigStore();
  store.m_userName = store.m_accountUser;
  store.m_password = store.m_accountPassword;
  EndDialog(IDOK);
  return 0;
}

LRESULT CLoginDialog::OnRejected(WPARAM, LPARAM origin) {
  // Only when no login server answered at all is it a network fault; any result a server
  // sent is a refusal, whatever its number. Telling a refused user to check the network, or
  // a user cut off to check the password, sends them the wrong way.
  if (origin == kRejectedNoAnswer) {
    AccelMessageBox(m_hWnd, "无法连接登录服务器，请检查网络后重试！", "网络错误",
                    MB_ICONWARNING);
  } else {
    AccelMessageBox(m_hWnd, "输入的用户名/密码验证错误！\n请注意：密码区分大小写。", "密码错误",
                    MB_ICONWARNING);
  }
  EnableAccountInputs(true);
  // The edit that had the focus was disabled under it; the password is what to type again.
  if (!GetFocus()) {
    HWND password = GetDlgItem(m_hWnd, IDC_LOGIN_PASSWORD);
    PostMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(password), TRUE);
  }
  return 0;
}
