// The main window's pages that show one page of the service each (tools, recharge, card
// shop, hot games, help, voice chat), and their common start: the view over the placeholder,
// the identity cookies of that moment, the page requested once.
#pragma once

#include <string>

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

// Any web address in the embedded view, in a window of its own: what the client shows when
// the desktop's shell cannot open an address in the user's browser.
class CWebAddressDlg : public CDialogBase {
 public:
  explicit CWebAddressDlg(const std::string& url);
  ~CWebAddressDlg() override;

 protected:
  BOOL OnInitDialog() override;

 private:
  CSkinHtmlView* m_pView;
  std::string m_url;
};

// Opens a web address for the signed-in user, not as the elevated client: the desktop's
// shell opens the address, or runs program (a full path) with the address as its one
// quoted argument when a program is named, as the user. Where the shell cannot be asked, a
// CWebAddressDlg owned by owner shows the address. An address that is not a web address
// (see nav::UserBrowserAddress) is not opened at all, and a line in the run log says so.
void OpenWebAddress(HWND owner, const std::string& url, const std::string& program = std::string());
