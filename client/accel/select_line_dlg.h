// The line selection dialog: the service's lines as a tree by group, the round-trip time of
// the selected line measured by the background worker, and the service's guide page.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <deque>

#include "client/ui/dialog_base.h"

class CSkinHtmlView;

class CSelectLineDlg : public CDialogBase {
 public:
  CSelectLineDlg();
  ~CSelectLineDlg() override;

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnDestroy() override;

 private:
  void FillTree();
  void OnRecheck();
  void OnSelChanged(NMHDR*, LRESULT*);
  LRESULT OnPingResult(WPARAM code, LPARAM ms);
  void AskLatency();
  int SelectedLineId(HTREEITEM* item) const;

  CSkinHtmlView* m_pView;
  HIMAGELIST m_images;
  // The worker answers one check at a time, in the order asked: the front item is the one
  // the next answer belongs to, wherever the selection has moved since.
  std::deque<HTREEITEM> m_asked;

  DECLARE_DIALOG_MESSAGE_MAP()
};
