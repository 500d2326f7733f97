// Dialogs from resource templates, modal or modeless (the main window's pages are modeless
// child dialogs), with a message table: message number (and, for commands and
// notifications, the control id) -> member function.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

class CDialogBase;
typedef LRESULT (CDialogBase::*DlgMsgHandler)(WPARAM wParam, LPARAM lParam);
typedef void (CDialogBase::*DlgCmdHandler)();
typedef void (CDialogBase::*DlgNotifyHandler)(NMHDR* header, LRESULT* result);

// kind: a plain window message, a WM_COMMAND from control id (any code), or a WM_NOTIFY
// with the given code from control id.
struct DialogMsgEntry {
  enum Kind { kMessage, kCommand, kNotify, kEnd };
  Kind kind;
  UINT message;  // message number, or the notification code for kNotify
  UINT id;       // control id for kCommand and kNotify
  DlgMsgHandler onMessage;
  DlgCmdHandler onCommand;
  DlgNotifyHandler onNotify;
};

#define DECLARE_DIALOG_MESSAGE_MAP()              \
 protected:                                       \
  static const DialogMsgEntry s_dialogEntries[];  \
  const DialogMsgEntry* GetMessageMap() const override;

#define BEGIN_DIALOG_MESSAGE_MAP(theClass) const DialogMsgEntry theClass::s_dialogEntries[] = {
#define ON_DIALOG_MESSAGE(message, fn) \
  {DialogMsgEntry::kMessage, message, 0, static_cast<DlgMsgHandler>(fn), nullptr, nullptr},
#define ON_DIALOG_COMMAND(id, fn) \
  {DialogMsgEntry::kCommand, WM_COMMAND, id, nullptr, static_cast<DlgCmdHandler>(fn), nullptr},
#define ON_DIALOG_NOTIFY(code, id, fn) \
  {DialogMsgEntry::kNotify, static_cast<UINT>(code), id, nullptr, nullptr, static_cast<DlgNotifyHandler>(fn)},
#define END_DIALOG_MESSAGE_MAP(theClass)                                          \
  {DialogMsgEntry::kEnd, 0, 0, nullptr, nullptr, nullptr}                           \
  }                                                                               \
  ;                                                                               \
  const DialogMsgEntry* theClass::GetMessageMap() const { return s_dialogEntries; }

// Controls that draw or react for themselves (the hyperlinks) get the parent's colour and
// command messages back as WM_REFLECT_BASE + message; a non-zero answer is taken.
const UINT WM_REFLECT_BASE = WM_APP + 0x2000;

class CDialogBase {
 public:
  explicit CDialogBase(UINT templateId);
  virtual ~CDialogBase();
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Runs the dialog until EndDialog; its result, or -1 when the template cannot be made.
  INT_PTR DoModal(HWND parent);
  // A modeless dialog (a page when the template has the child style).
  BOOL Create(HWND parent);
  void DestroyWindow();
  void EndDialog(INT_PTR result);

  HWND GetSafeHwnd() const { return m_hWnd; }

  HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }
  std::string ItemText(int id) const;
  void SetItemText(int id, const std::string& text) const;
  void EnableItem(int id, bool enable) const;
  bool IsItemEnabled(int id) const;
  bool IsChecked(int id) const;
  void Check(int id, bool checked) const;
  UINT_PTR SetTimer(UINT_PTR id, UINT ms) const { return ::SetTimer(m_hWnd, id, ms, nullptr); }
  void KillTimer(UINT_PTR id) const { ::KillTimer(m_hWnd, id); }
  void PostToSelf(UINT message, WPARAM wParam, LPARAM lParam) const {
    ::PostMessageA(m_hWnd, message, wParam, lParam);
  }

 protected:
  virtual const DialogMsgEntry* GetMessageMap() const;
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // The window is going away; children still exist.
  virtual void OnDestroy() {}

  HWND m_hWnd;

 private:
  static INT_PTR CALLBACK DialogProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  UINT m_templateId;
  bool m_modal;
};

// The program's resources: the executable's module (tests linking the dialogs in get
// their own module's resources too).
HINSTANCE ResourceInstance();
