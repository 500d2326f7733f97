// The status watch of one synchronous URL download (URLDownloadToFileA,
// URLDownloadToCacheFileA). urlmon answers S_OK for an error page, a cut body or a
// connection closed without an answer, and writes whatever arrived; only what this watch
// observes (the HTTP status and the byte counts) tells those cases apart.
#pragma once

#include <windows.h>
#include <urlmon.h>

// urlmon asks the callback for IHttpNegotiate and hands it the response line there.
class CDownloadWatch : public IBindStatusCallback, public IHttpNegotiate {
 public:
  // Asked on every progress report; true stops the download (E_ABORT).
  typedef bool (*AbortCheck)(void* context);

  // A download that passes maxBytes is given up and marked m_tooLarge. abortCheck may be
  // null: a caller that waits for the whole call has nothing to abandon.
  explicit CDownloadWatch(unsigned long maxBytes, AbortCheck abortCheck = nullptr,
                          void* abortContext = nullptr)
      : m_maxBytes(maxBytes), m_abortCheck(abortCheck), m_abortContext(abortContext) {}

  DWORD m_status = 0;      // HTTP status code; 0 when no response line arrived
  ULONG m_received = 0;    // bytes received when the download ended
  ULONG m_announced = 0;   // announced length; 0 when unknown
  bool m_tooLarge = false;

  // A 2xx answer that stayed within the size limit; the body may still be cut.
  bool Answered2xx() const { return m_status >= 200 && m_status < 300 && !m_tooLarge; }

  // IUnknown. The object lives on the caller's stack for the whole synchronous call, so
  // the reference count only has to be kept, not acted on.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

  // IBindStatusCallback
  STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
  STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                          LPCWSTR) override;
  STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  STDMETHODIMP GetBindInfo(DWORD* bindf, BINDINFO*) override;
  STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

  // IHttpNegotiate
  STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) override;
  STDMETHODIMP OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override;

 private:
  unsigned long m_maxBytes;
  AbortCheck m_abortCheck;
  void* m_abortContext;
  ULONG m_refs = 1;
};
