// Drives the windows of another process from outside, with ordinary user32 calls only, the
// way a user (or an accessibility tool) reaches them: find a top-level window, find a control
// by its id, read and set texts, press buttons, pick combo box and tree items, answer message
// boxes, time a message and photograph the screen. Test and demo tooling, not shipped.
//
// Texts are bytes of the ANSI code page (GBK under the Chinese locale the runs use). Every
// call that waits takes a time-out in milliseconds and gives up with a false or null result;
// nothing waits forever on the target, so a hung target fails a run instead of stopping it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace gui {

// What a top-level window must match. A zero pid, or a null class or title, matches anything.
struct WindowQuery {
  DWORD pid = 0;
  const char* className = nullptr;  // exact, e.g. "#32770"
  const char* title = nullptr;      // exact window text
  bool visibleOnly = true;
};

std::vector<HWND> TopWindows(const WindowQuery& q);
HWND WaitTopWindow(const WindowQuery& q, DWORD timeoutMs);
// True once no window matches (a dialog has ended), false at the time-out.
bool WaitNoTopWindow(const WindowQuery& q, DWORD timeoutMs);

std::string ClassOf(HWND w);
DWORD ProcessOf(HWND w);

// The first descendant with this control id, depth first over child windows and the child
// dialogs inside them (the pages of a frame are child dialogs). Null when none.
HWND FindControl(HWND root, int id);
HWND WaitControl(HWND root, int id, DWORD timeoutMs);

// Texts through WM_GETTEXT / WM_SETTEXT (marshalled between processes by the system).
std::string GetText(HWND w);
bool SetText(HWND w, const std::string& text);
// Polls until the control's text equals `text`; false at the time-out.
bool WaitText(HWND w, const std::string& text, DWORD timeoutMs);
// Polls until the control's text contains `part`.
bool WaitTextContains(HWND w, const std::string& part, DWORD timeoutMs);

bool IsEnabled(HWND w);
bool IsVisible(HWND w);
// Polls until the enabled state is `enabled`.
bool WaitEnabled(HWND w, bool enabled, DWORD timeoutMs);

// A button press as the dialog sees it: WM_COMMAND (id, BN_CLICKED) posted to the parent.
// Posted, so that a handler that opens a modal box does not hold the driver. Refused (false)
// for a disabled or hidden button, as a user's click would be.
bool Click(HWND button);
// Real mouse clicks (SendInput) at the centre of the window: `count` presses in quick
// succession, each reaching the window only if it takes mouse input at that moment.
bool MouseClick(HWND w, int count);

// Combo boxes: item texts, the selection, and a selection made as a user makes it (the
// parent gets CBN_SELCHANGE).
std::vector<std::string> ComboItems(HWND combo);
int ComboSelection(HWND combo);
bool ComboSelect(HWND combo, int index);

// Tree views, read from the target's memory: the item structure is built there in the
// driver's own layout, so driver and target must have the same bitness (both win64 here).
struct TreeItem {
  HANDLE item = nullptr;  // HTREEITEM in the target
  std::string text;
  LPARAM data = 0;
  int depth = 0;
};
// Every item in display order (depth first), whether expanded or not.
std::vector<TreeItem> TreeItems(HWND tree);
// The selected item (item null when none).
TreeItem TreeSelection(HWND tree);
// TVM_SELECTITEM with TVGN_CARET: the parent gets TVN_SELCHANGED as after a user's click.
bool TreeSelect(HWND tree, HANDLE item);

// Message boxes of a process: owned top-level dialogs (#32770) holding the message text
// (static 0xFFFF) and nothing but buttons and statics.
struct MessageBoxInfo {
  HWND box = nullptr;
  std::string caption;
  std::string text;
};
MessageBoxInfo WaitMessageBox(DWORD pid, DWORD timeoutMs);
// Presses button `id` of the box (IDOK, IDCANCEL, ...); true when the box then goes away.
bool AnswerMessageBox(HWND box, int id, DWORD timeoutMs);

// SendMessageTimeout with SMTO_ABORTIFHUNG; *elapsedMs gets the round trip. False when the
// target did not answer within timeoutMs.
bool TimedSend(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD timeoutMs, DWORD* elapsedMs,
               DWORD_PTR* result);

// The session-end pair as the system delivers it: WM_QUERYENDSESSION, then WM_ENDSESSION
// with wParam = whether the session really ends (the query's answer).
bool EndSession(HWND w, LPARAM reason, DWORD timeoutMs, bool* allowed);

// The whole screen through the desktop's device context, as a 24-bit BMP file.
bool ScreenshotBmp(const char* path);

// The window's rectangle in screen pixels.
RECT WindowRect(HWND w);

}  // namespace gui
