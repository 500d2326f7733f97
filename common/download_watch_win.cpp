#include "common/download_watch_win.h"

STDMETHODIMP CDownloadWatch::QueryInterface(REFIID riid, void** ppv) {
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

STDMETHODIMP CDownloadWatch::OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                        LPCWSTR) {
  if (statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
      statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
    m_received = progress;
    m_announced = progressMax;
    // The caller has given up waiting: stop a download that still trickles in.
    if (m_abortCheck && m_abortCheck(m_abortContext)) return E_ABORT;
    if (progress > m_maxBytes) {
      m_tooLarge = true;
      return E_ABORT;
    }
  }
  return S_OK;
}

STDMETHODIMP CDownloadWatch::GetBindInfo(DWORD* bindf, BINDINFO*) {
  // Never an answer from the browser cache: the lists change on the service, and a report
  // that an earlier run sent with the same query must reach the service again.
  if (bindf) *bindf |= BINDF_GETNEWESTVERSION | BINDF_PRAGMA_NO_CACHE;
  return S_OK;
}

STDMETHODIMP CDownloadWatch::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) {
  if (additional) *additional = nullptr;
  return S_OK;
}

STDMETHODIMP CDownloadWatch::OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) {
  if (additional) *additional = nullptr;
  m_status = code;
  return S_OK;
}
