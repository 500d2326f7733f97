// The embedded web view on a dialog-like parent under Wine: where its window sits, what the
// browser asks the page's server for, the identity cookies, and the view's lifetime.
#include "client/web/skin_html_view.h"

#include <winsock2.h>
#include <windows.h>
#include <ole2.h>
#include <exdispid.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "client/test_support/stub_client.h"

namespace {

using testing_support::PumpUntil;

const UINT kPlaceholderId = 1024;
// "玩家一号_a1" in GBK: the user name exactly as entered.
const char kUserName[] = "\xcd\xe6\xbc\xd2\xd2\xbb\xba\xc5_a1";

// CTest runs this program twice: as the prefix is, where Wine creates the browser control,
// and with the control's library switched off, where the view stays an empty window.
bool BrowserExpected() {
  const char* off = std::getenv("ACCEL_VIEW_NO_BROWSER");
  return !(off && *off == '1');
}

RECT RectIn(HWND child, HWND parent) {
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(NULL, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

class SkinHtmlViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(NULL)));
    m_parent = CreateWindowExA(0, "STATIC", "view test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                               50, 640, 480, NULL, NULL, NULL, NULL);
    // A sunken frame with no text, the way the templates mark where a page goes.
    m_placeholder = CreateWindowExA(WS_EX_CLIENTEDGE, "STATIC", "", WS_CHILD | WS_VISIBLE,
                                    12, 34, 400, 250, m_parent,
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kPlaceholderId)), NULL, NULL);
  }
  void TearDown() override {
    if (IsWindow(m_parent)) DestroyWindow(m_parent);
    OleUninitialize();
  }
  HWND m_parent;
  HWND m_placeholder;
};

TEST_F(SkinHtmlViewTest, OverThePlaceholderUntilTheDialogGoes) {
  CSkinHtmlView* view = new CSkinHtmlView;
  EXPECT_FALSE(view->CreateOverControl(4321, m_parent));
  ASSERT_TRUE(view->CreateOverControl(kPlaceholderId, m_parent));
  HWND hView = view->GetSafeHwnd();
  std::printf("browser control inside the view: %s\n", view->HasBrowser() ? "yes" : "no");
  EXPECT_EQ(BrowserExpected(), view->HasBrowser());
  // The first view of the process has switched the control's protections on for all of it.
  // The numbers of INTERNETFEATURELIST, which the headers show only to IE 6 SP2 builds.
  typedef HRESULT(WINAPI * PFN_IsFeatureEnabled)(int, DWORD);
  HMODULE urlmon = GetModuleHandleA("urlmon.dll");
  ASSERT_NE(urlmon, nullptr);
  auto isEnabled = reinterpret_cast<PFN_IsFeatureEnabled>(
      reinterpret_cast<void*>(GetProcAddress(urlmon, "CoInternetIsFeatureEnabled")));
  ASSERT_NE(isEnabled, nullptr);
  const std::pair<int, const char*> features[] = {
      {1, "ZONE_ELEVATION"},        {8, "LOCALMACHINE_LOCKDOWN"},      {2, "MIME_HANDLING"},
      {3, "MIME_SNIFFING"},         {4, "WINDOW_RESTRICTIONS"},        {10, "RESTRICT_ACTIVEXINSTALL"},
      {12, "RESTRICT_FILEDOWNLOAD"}, {14, "PROTOCOL_LOCKDOWN"},        {7, "DISABLE_MK_PROTOCOL"},
      {16, "SAFE_BINDTOOBJECT"},    {5, "WEBOC_POPUPMANAGEMENT"},      {11, "VALIDATE_NAVIGATE_URL"},
      {15, "HTTP_USERNAME_PASSWORD_DISABLE"}, {17, "UNC_SAVEDFILECHECK"},
      {25, "DISABLE_TELNET_PROTOCOL"}, {27, "BLOCK_INPUT_PROMPTS"}};
  for (const auto& feature : features) {
    EXPECT_EQ(isEnabled(feature.first, 0x2 /* GET_FEATURE_FROM_PROCESS */), S_OK) << feature.second;
  }

  RECT want = RectIn(m_placeholder, m_parent), got = RectIn(hView, m_parent);
  EXPECT_TRUE(EqualRect(&want, &got));
  EXPECT_EQ(static_cast<int>(kPlaceholderId), GetDlgCtrlID(hView));
  EXPECT_EQ(WS_CHILD | WS_VISIBLE, GetWindowLongA(hView, GWL_STYLE) & ~WS_CLIPSIBLINGS);
  EXPECT_EQ(0, GetWindowLongA(hView, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
  // The placeholder stays, right under the view.
  EXPECT_EQ(hView, GetWindow(m_placeholder, GW_HWNDPREV));
  EXPECT_EQ(0, SendMessageA(hView, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(m_parent),
                            MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)));

  // The browser's own window follows the view's size.
  MoveWindow(hView, 0, 0, 320, 200, TRUE);
  if (HWND inner = GetWindow(hView, GW_CHILD)) {
    RECT rect = RectIn(inner, hView);
    EXPECT_EQ(320, rect.right - rect.left);
    EXPECT_EQ(200, rect.bottom - rect.top);
  }
  view->OpenUrl("http://127.0.0.1/error.php?code=3");
  EXPECT_EQ("http://127.0.0.1/error.php?code=3", view->LastUrl());

  // The dialog goes first and takes the view's window along; its owner deletes the view.
  DestroyWindow(m_parent);
  EXPECT_FALSE(IsWindow(hView));
  EXPECT_EQ(NULL, view->GetSafeHwnd());
  EXPECT_FALSE(view->HasBrowser());
  delete view;
  PumpUntil([] { return false; }, 100);
}

TEST_F(SkinHtmlViewTest, CreateDropsTheBorderAndDeleteTakesTheWindow) {
  RECT rect = {0, 0, 423, 255};
  CSkinHtmlView* view = new CSkinHtmlView;
  ASSERT_TRUE(view->Create(NULL, NULL, WS_CHILD | WS_VISIBLE | WS_BORDER, rect, m_parent, 1012));
  HWND hView = view->GetSafeHwnd();
  RECT client;
  GetClientRect(hView, &client);
  EXPECT_TRUE(EqualRect(&rect, &client));
  EXPECT_EQ(1012, GetDlgCtrlID(hView));
  EXPECT_EQ(0, GetWindowLongA(hView, GWL_STYLE) & WS_BORDER);
  EXPECT_TRUE(view->ShowWindow(SW_HIDE));  // it was visible
  EXPECT_FALSE(IsWindowVisible(hView));
  // The page's context menu: the control asks the host it was given, which takes every one
  // so that none is shown.
  IOleClientSite* site = NULL;
  if (BrowserExpected()) {
    ASSERT_EQ(S_OK, view->GetControlSite(&site));
    IDocHostUIHandler* ui = NULL;
    ASSERT_EQ(S_OK, site->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&ui)));
    POINT at = {20, 20};
    EXPECT_EQ(S_OK, ui->ShowContextMenu(CONTEXT_MENU_DEFAULT, &at, NULL, NULL));
    EXPECT_EQ(S_OK, ui->ShowContextMenu(CONTEXT_MENU_TEXTSELECT, &at, NULL, NULL));
    ui->Release();
    site->Release();
  } else {
    EXPECT_EQ(E_FAIL, view->GetControlSite(&site));
  }
  delete view;
  EXPECT_FALSE(IsWindow(hView));
}

// One event to the sink as the control sends it (arguments last to first); true when the
// sink set the event's Cancel argument.
bool SendEvent(IDispatch* sink, DISPID id, std::vector<VARIANT> args, size_t cancelAt) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  V_VT(&args[cancelAt]) = VT_BYREF | VT_BOOL;
  V_BOOLREF(&args[cancelAt]) = &cancel;
  DISPPARAMS params = {args.data(), NULL, static_cast<UINT>(args.size()), 0};
  EXPECT_EQ(S_OK, sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, NULL, NULL, NULL)) << id;
  return cancel != VARIANT_FALSE;
}

VARIANT Variant(VARTYPE type, BSTR text = NULL) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = type;
  if (type == VT_BSTR) V_BSTR(&v) = text;
  return v;
}

// BeforeNavigate2 as the control sends it: the address by reference to a variant.
bool NavigationCancelled(IDispatch* sink, const wchar_t* url) {
  VARIANT address = Variant(VT_BSTR, SysAllocString(url)), byRef = Variant(VT_BYREF | VT_VARIANT);
  V_VARIANTREF(&byRef) = &address;
  VARIANT e = Variant(VT_EMPTY);
  bool cancelled = SendEvent(sink, DISPID_BEFORENAVIGATE2, {e, e, e, e, e, byRef, e}, 0);
  VariantClear(&address);
  return cancelled;
}

bool NewWindow3Cancelled(IDispatch* sink, const wchar_t* url) {
  VARIANT address = Variant(VT_BSTR, SysAllocString(url)), e = Variant(VT_EMPTY);
  bool cancelled = SendEvent(sink, DISPID_NEWWINDOW3, {address, e, e, e, e}, 3);
  VariantClear(&address);
  return cancelled;
}

// The machine's http handler for the test, as the desktop's shell reads it: the address it
// is given goes to a file. The prefix's own comes back after.
class HttpHandlerStandIn {
 public:
  explicit HttpHandlerStandIn(const std::string& record) {
    char system[MAX_PATH], old[1024];
    GetSystemDirectoryA(system, MAX_PATH);
    LONG size = sizeof old;
    if (RegQueryValueA(HKEY_LOCAL_MACHINE, kKey, old, &size) == ERROR_SUCCESS) m_old = old;
    std::string command = std::string("\"") + system + "\\cmd.exe\" /c echo \"%1\"> \"" + record + "\"";
    m_set = RegSetValueA(HKEY_LOCAL_MACHINE, kKey, REG_SZ, command.c_str(),
                         static_cast<DWORD>(command.size())) == ERROR_SUCCESS;
  }
  ~HttpHandlerStandIn() {
    if (m_old.empty())
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    else
      RegSetValueA(HKEY_LOCAL_MACHINE, kKey, REG_SZ, m_old.c_str(), static_cast<DWORD>(m_old.size()));
  }
  bool m_set;

 private:
  static constexpr const char* kKey = "Software\\Classes\\http\\shell\\open\\command";
  std::string m_old;
};

// The rules of the view, told through the control's own connection point: only web and
// blank pages, every new window refused here and the web ones sent to the user's browser by
// the desktop's shell, no file offered for saving, and no ActiveX control fetched or run.
TEST_F(SkinHtmlViewTest, TheControlsEventsAndAmbientsCarryTheViewsRules) {
  CSkinHtmlView view;
  ASSERT_TRUE(view.CreateOverControl(kPlaceholderId, m_parent));
  IDispatch* sink = NULL;
  if (!BrowserExpected()) {
    EXPECT_EQ(E_FAIL, view.GetEventSink(&sink));
    return;
  }
  ASSERT_EQ(S_OK, view.GetEventSink(&sink));

  // The address rules themselves are nav_policy_test's; here, that they decide.
  EXPECT_FALSE(NavigationCancelled(sink, L"http://127.0.0.1/new_index.php"));
  EXPECT_FALSE(NavigationCancelled(sink, L"about:blank"));
  EXPECT_TRUE(NavigationCancelled(sink, L"file:///C:/windows/win.ini"));
  EXPECT_TRUE(NavigationCancelled(sink, L"res://ieframe.dll/navcancl.htm"));
  VARIANT e = Variant(VT_EMPTY), number = Variant(VT_I4);
  EXPECT_TRUE(SendEvent(sink, DISPID_BEFORENAVIGATE2, {e, e, e, e, e, number, e}, 0));

  // Downloads: a document the view shows goes on, a file to save does not.
  VARIANT document = Variant(VT_BOOL);
  V_BOOL(&document) = VARIANT_TRUE;
  EXPECT_FALSE(SendEvent(sink, DISPID_FILEDOWNLOAD, {e, document}, 0));
  V_BOOL(&document) = VARIANT_FALSE;
  EXPECT_TRUE(SendEvent(sink, DISPID_FILEDOWNLOAD, {e, document}, 0));

  VARIANT result = Variant(VT_EMPTY);
  DISPPARAMS none = {NULL, NULL, 0, 0};
  ASSERT_EQ(S_OK, sink->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                               &result, NULL, NULL));
  ASSERT_EQ(VT_I4, V_VT(&result));
  const LONG wanted = DLCTL_DLIMAGES | DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_JAVA;
  EXPECT_EQ(wanted, V_I4(&result) & wanted);
  EXPECT_EQ(0, V_I4(&result) & (DLCTL_NO_SCRIPTS | DLCTL_DOWNLOADONLY | DLCTL_SILENT));

  // New windows: never one of this process; a web address reaches the user's http handler.
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string record = std::string(dir) + "accel_view_popup.txt";
  DeleteFileA(record.c_str());
  HttpHandlerStandIn handler(record);
  ASSERT_TRUE(handler.m_set);
  EXPECT_TRUE(SendEvent(sink, DISPID_NEWWINDOW2, {e, e}, 0));
  EXPECT_TRUE(NewWindow3Cancelled(sink, L"file:///C:/windows/system32/calc.exe"));
  EXPECT_TRUE(NewWindow3Cancelled(sink, L"http://127.0.0.1/popup.php?a=\"b\" c"));
  std::string opened;
  PumpUntil([&] {
    HANDLE f = CreateFileA(record.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buffer[512];
    DWORD n = 0;
    ReadFile(f, buffer, sizeof buffer, &n, NULL);
    CloseHandle(f);
    opened.assign(buffer, n);
    return opened.find("\r\n") != std::string::npos;
  }, 20000);
  // The quotes went out encoded: the address stays one argument of the handler's.
  EXPECT_EQ("\"http://127.0.0.1/popup.php?a=%22b%22%20c\"\r\n", opened);
  // Once: the refused address and the second event with no address open nothing.
  DeleteFileA(record.c_str());
  PumpUntil([] { return false; }, 1000);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(record.c_str()));
  sink->Release();
}

// Stands in for the control's in-place active object: notes each key it is offered and
// where the focus was at that moment.
class KeyRecordingObject : public IOleInPlaceActiveObject {
 public:
  HRESULT answer = S_FALSE;
  std::vector<std::pair<UINT, WPARAM>> offered;
  std::vector<HWND> focusWhenOffered;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = NULL;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOleWindow) &&
        !IsEqualIID(riid, IID_IOleInPlaceActiveObject))
      return E_NOINTERFACE;
    *ppv = static_cast<IOleInPlaceActiveObject*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override {
    offered.emplace_back(msg->message, msg->wParam);
    focusWhenOffered.push_back(GetFocus());
    return answer;
  }
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  ULONG refs = 1;
};

// A Tab key press through the client's loop step: true when the view or the dialog took it.
bool PressTab(HWND parent) {
  MSG msg = {GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001, 0, {0, 0}};
  return PreTranslateDialogMessage(parent, &msg);
}

TEST_F(SkinHtmlViewTest, KeysGoToTheFocusedViewsActiveObjectBeforeTheDialog) {
  SetWindowLongA(m_parent, GWL_EXSTYLE, GetWindowLongA(m_parent, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  CSkinHtmlView view;
  ASSERT_TRUE(view.CreateOverControl(kPlaceholderId, m_parent));
  HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 12, 300, 100, 20,
                              m_parent, NULL, NULL, NULL);
  KeyRecordingObject page;
  view.SetActiveObject(&page);
  EXPECT_EQ(2u, page.refs);
  HWND inView = GetWindow(view.GetSafeHwnd(), GW_CHILD);
  if (!inView) inView = view.GetSafeHwnd();

  // The page does not want it (its last field): offered first, then the dialog moves on.
  SetFocus(inView);
  ASSERT_EQ(inView, GetFocus());
  EXPECT_TRUE(PressTab(m_parent));
  ASSERT_EQ(1u, page.offered.size());
  EXPECT_EQ(std::make_pair(UINT(WM_KEYDOWN), WPARAM(VK_TAB)), page.offered[0]);
  EXPECT_EQ(inView, page.focusWhenOffered[0]);
  EXPECT_EQ(edit, GetFocus());

  // The page takes it (Tab to its next field): the dialog never sees it.
  page.answer = S_OK;
  SetFocus(inView);
  EXPECT_TRUE(PressTab(m_parent));
  EXPECT_EQ(2u, page.offered.size());
  EXPECT_EQ(inView, GetFocus());

  // The focus outside every view: the dialog alone.
  SetFocus(edit);
  PressTab(m_parent);
  EXPECT_EQ(2u, page.offered.size());
  MSG mouse = {inView, WM_LBUTTONDOWN, 0, 0, 0, {0, 0}};
  EXPECT_FALSE(CSkinHtmlView::TranslateViewKey(&mouse));
  EXPECT_EQ(2u, page.offered.size());

  DestroyWindow(m_parent);  // the browser goes, and lets go of the object
  EXPECT_EQ(1u, page.refs);
}

// What the browser sends for a page: one request to a loopback port of the test's own.
TEST_F(SkinHtmlViewTest, PageRequestCarriesTheIdentityCookies) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof(addr);
  u_long nonBlocking = 1;
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
  ASSERT_EQ(0, listen(listener, 1));
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  ioctlsocket(listener, FIONBIO, &nonBlocking);
  char url[64];
  std::snprintf(url, sizeof(url), "http://127.0.0.1:%d/new_index.php", ntohs(addr.sin_port));
  EXPECT_TRUE(SetIdentityCookie(url, "uid", kUserName));
  EXPECT_TRUE(SetIdentityCookie(url, "app", "1207"));

  CSkinHtmlView view;
  ASSERT_TRUE(view.CreateOverControl(kPlaceholderId, m_parent));
  // In a new Wine prefix the first navigation waits some seconds for Wine's RPC service.
  view.OpenUrl(url);
  std::string head;
  PumpUntil([&] {
    SOCKET s = accept(listener, NULL, NULL);
    if (s == INVALID_SOCKET) return false;
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    char buffer[2048];
    int n;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384 &&
           (n = recv(s, buffer, sizeof(buffer), 0)) > 0) {
      head.append(buffer, n);
    }
    const char answer[] = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>page</p>";
    send(s, answer, sizeof(answer) - 1, 0);
    closesocket(s);
    return true;
  }, BrowserExpected() ? 30000 : 1000);
  closesocket(listener);
  WSACleanup();

  if (!BrowserExpected()) {
    EXPECT_EQ("", head);  // an empty view asks nobody for anything
    return;
  }
  EXPECT_EQ(0u, head.find("GET /new_index.php HTTP/1.1\r\n")) << head;
  size_t cookie = head.find("\r\nCookie: ");
  ASSERT_NE(std::string::npos, cookie) << head;
  std::string line = head.substr(cookie, head.find("\r\n", cookie + 2) - cookie);
  EXPECT_NE(std::string::npos, line.find(std::string("uid=") + kUserName)) << head;
  EXPECT_NE(std::string::npos, line.find("app=1207")) << head;
  PumpUntil([] { return false; }, 200);  // the browser reads its answer before the view goes
}

TEST(IdentityCookies, ReadBackAsSetForThePage) {
  const char kUrl[] = "http://127.0.0.1/new_recharge.php";
  char app[16];
  std::snprintf(app, sizeof(app), "%d", 37);
  EXPECT_TRUE(SetIdentityCookie(kUrl, "uid", kUserName));
  EXPECT_TRUE(SetIdentityCookie(kUrl, "app", app));
  char cookies[512];
  DWORD size = sizeof(cookies);
  ASSERT_TRUE(InternetGetCookieA(kUrl, NULL, cookies, &size));
  EXPECT_EQ(std::string("uid=") + kUserName + "; app=37", std::string(cookies));
}

}  // namespace
