// The diagnostics page of the main window: generates the diagnostic report on the background
// worker and shows its output as it comes, copies it, opens the report file in the text
// editor and sends it to the service under the user's account name.
#pragma once

#include <windows.h>

#include <string>

#include "client/ui/dialog_base.h"

class CDlgDebugInfo : public CDialogBase {
 public:
  CDlgDebugInfo();

  // Everything shown so far, across generations.
  const std::string& Output() const { return m_strOutput; }

  // Upload time-outs: a bad network must not hold the window for minutes.
  static const DWORD kUploadTimeoutMs = 15000;

 protected:
  BOOL OnInitDialog() override;

 private:
  void OnGenerate();
  void OnCopy();
  void OnSend();
  void OnView();
  LRESULT OnReportOutput(WPARAM bytes, LPARAM block);
  LRESULT OnReportDone(WPARAM outcome, LPARAM);
  // The upload itself; true only when the service answered 200.
  bool Upload(const std::string& reportPath);

  std::string m_strOutput;
  // A report of this run is complete in the file: the only one that may be sent. A file
  // from before (perhaps of another account) or one still being written is never sent.
  bool m_reportReady;

  DECLARE_DIALOG_MESSAGE_MAP()
};
