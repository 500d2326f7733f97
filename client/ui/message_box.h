// Every message box of the client goes through here, so that tests of a dialog's own
// process can read and answer them instead of blocking on a modal loop.
#pragma once

#include <windows.h>

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() {}
  virtual int Show(HWND owner, const char* text, const char* caption, UINT type) = 0;
};

// MessageBoxA unless a test has put its own answerer in place.
int AccelMessageBox(HWND owner, const char* text, const char* caption, UINT type);
void SetMessageBoxes(IMessageBoxes* boxes);  // null restores the real one
