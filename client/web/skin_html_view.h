// CSkinHtmlView: the service's pages inside the client's dialogs. A child window of a dialog
// hosts the system's web browser control through a small container of our own (client site,
// in-place site and frame, document host handler): no border, no 3-D edge, no context menu.
// The control runs with the client's administrator token, so the view keeps it to web pages:
// other addresses are refused, a page's new window opens in the user's own browser (started
// by the desktop's shell, as the user), no file is offered for download and no ActiveX
// control is fetched or run. The identity cookies go into the process-wide cookie store that
// the browser reads for its requests.
//
// The thread that creates views must have called OleInitialize. Everything runs on that
// thread.
#pragma once

#include <windows.h>

#include <string>

struct IOleClientSite;
struct IOleObject;
struct IOleInPlaceObject;
struct IOleInPlaceActiveObject;
struct IWebBrowser2;
struct IConnectionPoint;
struct IDispatch;
class CSkinHtmlSite;

class CSkinHtmlView {
 public:
  CSkinHtmlView();
  // Destroys the window if it is still there and lets go of the browser.
  virtual ~CSkinHtmlView();
  CSkinHtmlView(const CSkinHtmlView&) = delete;
  CSkinHtmlView& operator=(const CSkinHtmlView&) = delete;

  // Creates the view's window (style as given, WS_CHILD | WS_VISIBLE by the callers) in rect
  // of hParent's client area with control id nID, then the browser inside it. The window is
  // always of the view's own class, which carries the container; a class name passed here is
  // not used. A browser that cannot be created leaves an empty window: still a success.
  BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
              HWND hParent, UINT nID);
  // Creates the view exactly over hParent's control nID, with the same id, and stacks it just
  // above that placeholder, which stays where it is. FALSE when there is no such control or
  // the window cannot be made.
  BOOL CreateOverControl(UINT nID, HWND hParent);
  // Asks the browser for url with no flags, no target frame, the (empty) extra headers and no
  // post data. The URL is kept even when there is no browser to ask.
  void OpenUrl(const std::string& url);

  HWND GetSafeHwnd() const { return m_hWnd; }
  BOOL ShowWindow(int nCmdShow);
  const std::string& LastUrl() const { return m_lastUrl; }
  // True while the browser control lives in the window (it may not exist on every system).
  bool HasBrowser() const { return m_browser != NULL; }
  // The host the browser control was given, as the control itself answers it (AddRef'ed):
  // what it asks about menus, borders and keys. E_FAIL without a browser.
  HRESULT GetControlSite(IOleClientSite** site) const;
  // The object the control tells its events (DWebBrowserEvents2) to, as the control's own
  // connection point lists it (AddRef'ed). E_FAIL without a browser.
  HRESULT GetEventSink(IDispatch** sink) const;

  // The object that keyboard messages are offered to: the control names it through the
  // frame when it becomes UI-active (null takes it back). Held until the browser goes.
  void SetActiveObject(IOleInPlaceActiveObject* object);
  // A key message for a window inside a view (the focus, for key messages) goes to that
  // view's in-place active object first, the way containers of the control do: the page's
  // own Tab between form fields, Enter, Ctrl+C / Ctrl+V. True when the object took it; the
  // message then goes no further. Without an object named, the control itself is asked.
  static bool TranslateViewKey(MSG* msg);

 private:
  // The messages the view handles itself; a handler that returns false passes the message on
  // to the plain window's handling.
  typedef bool (CSkinHtmlView::*MessageHandler)(WPARAM wParam, LPARAM lParam, LRESULT* result);
  struct MessageEntry {
    UINT message;
    MessageHandler handler;
  };
  static const MessageEntry kMessages[];

  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool OnMouseActivate(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnSizeMessage(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnDestroy(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnNcDestroy(WPARAM wParam, LPARAM lParam, LRESULT* result);
  bool OnPopup(WPARAM wParam, LPARAM lParam, LRESULT* result);
  static ATOM RegisterViewClass();
  void PreSubclassWindow();
  void CreateBrowser();
  bool ConnectEvents();
  void DestroyBrowser();
  void OnSize(int cx, int cy);

  static CSkinHtmlView* FromWindow(HWND hWnd);

  HWND m_hWnd;
  // Extra request headers for every page request: nothing sets them, so none are sent.
  std::string m_headers;
  std::string m_lastUrl;
  CSkinHtmlSite* m_site;
  IOleObject* m_oleObject;
  IOleInPlaceObject* m_inPlace;
  IWebBrowser2* m_browser;
  IOleInPlaceActiveObject* m_activeObject;
  IConnectionPoint* m_events;
  DWORD m_eventsCookie;

  friend class CSkinHtmlSite;
};

// The keyboard step of a message loop that shows views on a dialog: the view holding the
// focus first (TranslateViewKey), then the dialog's own navigation (IsDialogMessageA of
// dialog, which may be null). True when either took the message.
bool PreTranslateDialogMessage(HWND dialog, MSG* msg);

// Sets one identity cookie ("uid", "app") for the page's full URL. The value is passed as it
// is, with no expiry, so the cookie lasts as long as the process.
BOOL SetIdentityCookie(const std::string& url, const char* name, const std::string& value);
