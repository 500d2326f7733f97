// The login dialog: user name, password, remember and auto-login, the service's banner and
// two links. The exchange itself is a job of the background worker; the dialog waits for
// its answer with the login button disabled.
#pragma once

#include "client/account/hyper_link.h"
#include "client/ui/dialog_base.h"

class CSkinHtmlView;

class CLoginDialog : public CDialogBase {
 public:
  CLoginDialog();
  ~CLoginDialog() override;

  static const char* Title() { return "Vela网游加速器 V2.1"; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  LRESULT OnVerified(WPARAM, LPARAM);
  LRESULT OnRejected(WPARAM result, LPARAM origin);
  // The login button, both edits and both check boxes.
  void EnableAccountInputs(bool enable);

  CSkinHtmlView* m_pView;
  CHyperLink m_register;
  CHyperLink m_changePassword;

  DECLARE_DIALOG_MESSAGE_MAP()
};
