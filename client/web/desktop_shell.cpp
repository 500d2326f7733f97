#include "client/web/desktop_shell.h"

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shobjidl.h>

#include <vector>

namespace {

// The identifiers as documented; spelled out here so that no import library of the
// toolchain has to carry them.
const CLSID kClsidShellWindows = {0x9ba05972, 0xf6a8, 0x11cf,
                                  {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
const IID kIidShellWindows = {0x85cb6900, 0x4d95, 0x11cf,
                              {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
const GUID kSidTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf,
                                  {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};
const IID kIidShellBrowser = {0x000214e2, 0x0000, 0x0000,
                              {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellFolderViewDual = {0xe7a1af80, 0x4d96, 0x11cf,
                                     {0x96, 0x0c, 0x00, 0x80, 0xc7, 0xf4, 0xee, 0x85}};
const IID kIidShellDispatch2 = {0xa4c6892c, 0x3ba9, 0x11d2,
                                {0x9d, 0xea, 0x00, 0xc0, 0x4f, 0xb1, 0x61, 0x62}};

// One interface pointer, released when the step that asked for it is left.
template <typename T>
class ComRef {
 public:
  ComRef() : m_p(NULL) {}
  ~ComRef() {
    if (m_p) m_p->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return m_p; }
  T* get() const { return m_p; }
  T** out() { return &m_p; }
  void** outVoid() { return reinterpret_cast<void**>(&m_p); }

 private:
  T* m_p;
};

// Texts of the client are in the system's ANSI code page.
BSTR ToBstr(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0);
  std::vector<WCHAR> wide(n + 1, 0);
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], n);
  }
  return SysAllocStringLen(&wide[0], n);
}

// The desktop window's shell view, as its dispatch object, and from it the shell's own
// automation object: everything it starts, it starts in the desktop's process.
HRESULT DesktopShellDispatch(IShellDispatch2** shell) {
  ComRef<IShellWindows> windows;
  HRESULT hr = CoCreateInstance(kClsidShellWindows, NULL, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                windows.outVoid());
  if (FAILED(hr) || !windows.get()) return FAILED(hr) ? hr : E_FAIL;
  VARIANT location, root;
  VariantInit(&location);
  VariantInit(&root);
  V_VT(&location) = VT_I4;
  V_I4(&location) = 0;  // CSIDL_DESKTOP
  LONG hwnd = 0;
  ComRef<IDispatch> desktop;
  hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH,
                             desktop.out());
  // S_FALSE: no desktop window registered.
  if (hr != S_OK || !desktop.get()) return FAILED(hr) ? hr : E_FAIL;
  ComRef<IServiceProvider> provider;
  hr = desktop->QueryInterface(IID_IServiceProvider, provider.outVoid());
  if (FAILED(hr)) return hr;
  ComRef<IShellBrowser> browser;
  hr = provider->QueryService(kSidTopLevelBrowser, kIidShellBrowser, browser.outVoid());
  if (FAILED(hr) || !browser.get()) return FAILED(hr) ? hr : E_FAIL;
  ComRef<IShellView> view;
  hr = browser->QueryActiveShellView(view.out());
  if (FAILED(hr) || !view.get()) return FAILED(hr) ? hr : E_FAIL;
  ComRef<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.outVoid());
  if (FAILED(hr) || !background.get()) return FAILED(hr) ? hr : E_FAIL;
  ComRef<IShellFolderViewDual> folderView;
  hr = background->QueryInterface(kIidShellFolderViewDual, folderView.outVoid());
  if (FAILED(hr)) return hr;
  ComRef<IDispatch> application;
  hr = folderView->get_Application(application.out());
  if (FAILED(hr) || !application.get()) return FAILED(hr) ? hr : E_FAIL;
  hr = application->QueryInterface(kIidShellDispatch2, reinterpret_cast<void**>(shell));
  return SUCCEEDED(hr) && !*shell ? E_FAIL : hr;
}

}  // namespace

bool ShellExecuteAsDesktopUser(const std::string& file, const std::string& parameters) {
  IShellDispatch2* shell = NULL;
  if (FAILED(DesktopShellDispatch(&shell))) return false;
  BSTR target = ToBstr(file);
  VARIANT args, dir, operation, show;
  VariantInit(&args);
  V_VT(&args) = VT_BSTR;
  V_BSTR(&args) = ToBstr(parameters);
  VariantInit(&dir);  // the handler's own folder, not the client's
  VariantInit(&operation);
  V_VT(&operation) = VT_BSTR;
  V_BSTR(&operation) = SysAllocString(L"open");
  VariantInit(&show);
  V_VT(&show) = VT_I4;
  V_I4(&show) = SW_SHOWNORMAL;
  HRESULT hr = shell->ShellExecute(target, args, dir, operation, show);
  VariantClear(&args);
  VariantClear(&operation);
  SysFreeString(target);
  shell->Release();
  return SUCCEEDED(hr);
}
