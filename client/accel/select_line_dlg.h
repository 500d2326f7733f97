// The line selection dialog: the service's lines as a tree by group, every line's round-trip
// time and loss measured by the background worker (all of them when the dialog opens and on
// a recheck, a line again when it is selected), the best of each group marked, and the
// service's guide page.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

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
  void AskLatency(WPARAM line);
  int SelectedLineId(HTREEITEM* item) const;
  std::string LatencyText(size_t index) const;
  void ShowGroup(HTREEITEM group);

  // A line of the tree and its last figure; a repeated id shares its line's figure.
  struct LineItem {
    HTREEITEM item;
    HTREEITEM group;
    int id;
    std::string name;  // as the file names this item
    bool measured;
    LPARAM answer;     // PingAnswer
  };

  CSkinHtmlView* m_pView;
  HIMAGELIST m_images;
  std::vector<LineItem> m_lines;

  DECLARE_DIALOG_MESSAGE_MAP()
};
