#include "collector/url_fetch.h"

#include <windows.h>
#include <urlmon.h>

namespace {

// Watches one URL download: the HTTP status (urlmon asks the callback for IHttpNegotiate
// and hands it the response line there) and the byte counts. urlmon answers S_OK for an
// error page or a cut body as well; only these observations tell the cases apart.
class CFetchWatch : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit CFetchWatch(unsigned long maxBytes) : m_maxBytes(maxBytes) {}

  DWORD m_status = 0;      // 0 when no response line arrived
  ULONG m_received = 0;
  ULONG m_announced = 0;   // 0 when unknown
  bool m_tooLarge = false;

  // The object lives on the caller's stack for the whole synchronous call: the count is
  // kept, never acted on.
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

  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                          LPCWSTR) override {
    if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
        statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
      m_received = progress;
      m_announced = progressMax;
      if (progress > m_maxBytes) {
        m_tooLarge = true;
        return E_ABORT;
      }
    }
    return S_OK;
  }
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD* bindf, BINDINFO*) override {
    // Never an answer from the browser cache: the list changes on the service, and a
    // report that an earlier run sent with the same query must reach the service again.
    if (bindf) *bindf |= BINDF_GETNEWESTVERSION | BINDF_PRAGMA_NO_CACHE;
    return S_OK;
  }
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    return S_OK;
  }
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override {
    if (additional) *additional = nullptr;
    m_status = code;
    return S_OK;
  }

  bool Answered2xx() const { return m_status >= 200 && m_status < 300 && !m_tooLarge; }

 private:
  unsigned long m_maxBytes;
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

bool FetchListFile(const std::string& url, const std::string& target) {
  std::string temp = target + ".tmp";
  DeleteFileA(temp.c_str());
  CFetchWatch watch(kGameListMaxBytes);
  HRESULT hr = URLDownloadToFileA(nullptr, url.c_str(), temp.c_str(), 0, &watch);
  unsigned long long size = 0;
  bool complete = SUCCEEDED(hr) && watch.Answered2xx() && FileSize(temp, &size) && size > 0 &&
                  (watch.m_announced == 0 || watch.m_received == watch.m_announced);
  if (!complete ||
      !MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp.c_str());
    return false;
  }
  return true;
}

bool RequestReport(const std::string& url) {
  char cacheFile[1024];
  // The answer carries nothing the collector needs; a report far larger than any answer
  // of the service is not one.
  CFetchWatch watch(64UL * 1024);
  HRESULT hr = URLDownloadToCacheFileA(nullptr, url.c_str(), cacheFile, sizeof cacheFile, 0,
                                       &watch);
  return SUCCEEDED(hr) && watch.Answered2xx();
}
