// The main window's pages that show one page of the service each (tools, recharge, card
// shop, hot games, help, voice chat), and their common start: the view over the placeholder,
// the identity cookies of that moment, the page requested once.
#pragma once

#include "client/ui/dialog_base.h"

class CSkinHtmlView;

class CWebPageDlg : public CDialogBase {
 public:
  // path: the page on the service's client host; placeholder: the frame control the view
  // covers, at the dialog's top-left corner.
  CWebPageDlg(UINT templateId, int placeholder, const char* path);
  ~CWebPageDlg() override;

  const char* Path() const { return m_path; }

 protected:
  BOOL OnInitDialog() override;

 private:
  CSkinHtmlView* m_pView;
  int m_placeholder;
  const char* m_path;
};

class CGameToolDlg : public CWebPageDlg {
 public:
  CGameToolDlg();
};
class CRechargeDlg : public CWebPageDlg {
 public:
  CRechargeDlg();
};
class CBuyCardsDlg : public CWebPageDlg {
 public:
  CBuyCardsDlg();
};
class CHotGamesDlg : public CWebPageDlg {
 public:
  CHotGamesDlg();
};
class CHelpDlg : public CWebPageDlg {
 public:
  CHelpDlg();
};
class CAkVoiceDlg : public CWebPageDlg {
 public:
  CAkVoiceDlg();
};
