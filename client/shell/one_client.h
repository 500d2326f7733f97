// What must happen before anything else of the process runs: the DLL search hardened, and
// one client at a time. Static construction of the configuration store already downloads
// through urlmon and WinINet and starts the background worker, so both come first.
#pragma once

#include <windows.h>

class COneClient {
 public:
  // Hardens the DLL search; when another client runs, brings it to the front and ends this
  // process with exit code 0 before anything else of it has run.
  COneClient();

  // The first client's side: a message-only window that a second start finds and asks to
  // show the client. show is called on this thread with the window handle to bring up.
  static void ListenForSecondStarts(void (*show)());
};
