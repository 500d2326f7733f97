#include <windows.h>
#include <urlmon.h>

#include "client/accel/list_download.h"

namespace {

// Watches one URLDownloadToFileA call: the HTTP status (urlmon asks the callback for
// IHttpNegotiate and reports the response line there) and the byte counts. urlmon itself
// answers S_OK for an error page, a cut body or a connection closed without an answer, and
// writes whatever arrived into the file; only these observations tell the cases apart.
class CDownloadWatch : public IBindStatusCallback, public IHttpNegotiate {
 public:
  DWORD m_status = 0;           // HTTP status code; 0 when no response line arrived
  ULONG m_received = 0;         // bytes received when the download ended
  ULONG m_announced = 0;        // announced length; 0 when unknown
  bool m_tooLarge = false;

  // IUnknown. The object lives on the caller's stack for the whole synchronous call, so
  // the reference count only has to be kept, not acted on.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
      *ppv = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
      *ppv = static_cast<IHttpNegotiate*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                          LPCWSTR) override {
    if (statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA ||
        statusCode == BINDSTATUS_BEGINDOWNLOADDATA) {
      m_received = progress;
      m_announced = progressMax;
      if (progress > kListDownloadMaxBytes) {
        m_tooLarge = true;
        return E_ABORT;
      }
    }
    return S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD* bindf, BINDINFO*) override {
    // The lists change on the service; a copy from the browser cache would hide that until
    // the cache entry expires.
    if (bindf) *bindf |= BINDF_GETNEWESTVERSION | BINDF_PRAGMA_NO_CACHE;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // IHttpNegotiate
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    m_status = code;
    return S_OK;
  }

 private:
  ULONG m_refs = 1;
};

bool FileSize(const std::string& path, unsigned long long* size) {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa)) return false;
  if (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  *size = (static_cast<unsigned long long>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
  return true;
}

}  // namespace

bool DownloadListFile(const std::string& url, const std::string& target) {
  if (url.empty() || target.empty()) return false;
  std::string temp = target + ".tmp";
  DeleteFileA(temp.c_str());

  CDownloadWatch watch;
  HRESULT hr = URLDownloadToFileA(nullptr, url.c_str(), temp.c_str(), 0, &watch);

  unsigned long long size = 0;
  bool complete = SUCCEEDED(hr) && !watch.m_tooLarge && watch.m_status >= 200 &&
                  watch.m_status < 300 && FileSize(temp, &size) && size > 0 &&
                  (watch.m_announced == 0 || watch.m_received == watch.m_announced);
  if (!complete) {
    DeleteFileA(temp.c_str());
    return false;
  }
  if (!MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

int RefreshAndReadLines(const std::string& serversUrl, const std::string& serversPath,
                        const std::string& groupsUrl, const std::string& groupsPath,
                        CServerList& lines) {
  DownloadListFile(serversUrl, serversPath);
  DownloadListFile(groupsUrl, groupsPath);
  return lines.ReadGroups(groupsPath);
}
