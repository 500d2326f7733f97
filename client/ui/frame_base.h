// A top-level frame window of a class of its own, with a message table like the dialogs':
// window messages and commands (menu, tool bar, tray menu) -> member functions.
#pragma once

#include <windows.h>

class CFrameBase;
typedef LRESULT (CFrameBase::*FrameMsgHandler)(WPARAM wParam, LPARAM lParam);
typedef void (CFrameBase::*FrameCmdHandler)();

struct FrameMsgEntry {
  UINT message;  // WM_COMMAND for commands
  UINT id;       // command id, for WM_COMMAND entries
  FrameMsgHandler onMessage;
  FrameCmdHandler onCommand;
};

#define DECLARE_FRAME_MESSAGE_MAP()             \
 protected:                                     \
  static const FrameMsgEntry s_frameEntries[];  \
  const FrameMsgEntry* GetMessageMap() const override;

#define BEGIN_FRAME_MESSAGE_MAP(theClass) const FrameMsgEntry theClass::s_frameEntries[] = {
#define ON_FRAME_MESSAGE(message, fn) {message, 0, static_cast<FrameMsgHandler>(fn), nullptr},
#define ON_FRAME_COMMAND(id, fn) {WM_COMMAND, id, nullptr, static_cast<FrameCmdHandler>(fn)},
#define END_FRAME_MESSAGE_MAP(theClass)                                          \
  { 0, 0, nullptr, nullptr }                                                     \
  }                                                                              \
  ;                                                                              \
  const FrameMsgEntry* theClass::GetMessageMap() const { return s_frameEntries; }

class CFrameBase {
 public:
  CFrameBase();
  virtual ~CFrameBase();
  CFrameBase(const CFrameBase&) = delete;
  CFrameBase& operator=(const CFrameBase&) = delete;

  // Registers the class (once per process) and creates the window; WM_CREATE reaches the
  // table before this returns. FALSE when the class or the window cannot be made.
  BOOL CreateFrame(const char* className, const char* title, DWORD style, DWORD exStyle,
                   HICON icon);
  HWND GetSafeHwnd() const { return m_hWnd; }
  // True when the command has an entry in the table (the tray menu greys the others).
  bool HandlesCommand(UINT id) const;

 protected:
  virtual const FrameMsgEntry* GetMessageMap() const;
  HWND m_hWnd;

 private:
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
};
