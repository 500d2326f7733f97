// The one system tuning the client offers: delayed TCP acknowledgements off on every
// network interface (TcpAckFrequency = 1), effective after a restart, never removed.
#pragma once

#include <windows.h>

#include "client/web/web_page_dlg.h"

extern const char kTcpInterfacesKey[];

// -1: the interfaces key cannot be opened; 0: nothing was written (no subkeys, or no
// subkey could take the value, as without administrator rights); 1: written under at least
// one interface. The key is a parameter for tests only.
int SetAckFrequency(HKEY root = HKEY_LOCAL_MACHINE, const char* interfacesKey = kTcpInterfacesKey);

// Menu command: the question, then the tuning, then its result.
void RunNetworkTuning(HWND owner);

// The first-run dialog: the service's welcome page, and the tuning on OK.
class CFirstRun : public CWebPageDlg {
 public:
  CFirstRun();

 protected:
  void OnOK() override;
};
