#include <windows.h>
#include <urlmon.h>

#include "client/accel/list_download.h"
#include "common/text_format.h"
#include "common/xml_doc.h"

namespace {

enum : LONG { kJobRunning = 0, kJobDone = 1, kJobAbandoned = 2 };

// Watches one URLDownloadToFileA call: the HTTP status (urlmon asks the callback for
// IHttpNegotiate and reports the response line there) and the byte counts. urlmon itself
// answers S_OK for an error page, a cut body or a connection closed without an answer, and
// writes whatever arrived into the file; only these observations tell the cases apart.
class CDownloadWatch : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit CDownloadWatch(volatile LONG* jobState) : m_jobState(jobState) {}

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
      // The caller has given up waiting: stop a download that still trickles in.
      if (*m_jobState == kJobAbandoned) return E_ABORT;
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
  volatile LONG* m_jobState;
  ULONG m_refs = 1;
};

// One download on a thread of its own, so that its caller can stop waiting at the deadline.
// Shared by the caller and the thread; the last of the two to let go deletes it. The
// results are written before the state leaves kJobRunning and read only after.
struct CDownloadJob {
  volatile LONG refs = 2;
  volatile LONG state = kJobRunning;
  std::string url;
  std::string temp;
  HRESULT hr = E_FAIL;
  DWORD status = 0;
  ULONG received = 0;
  ULONG announced = 0;
  bool tooLarge = false;
};

void ReleaseJob(CDownloadJob* job) {
  if (InterlockedDecrement(&job->refs) == 0) delete job;
}

DWORD WINAPI DownloadThread(LPVOID param) {
  CDownloadJob* job = static_cast<CDownloadJob*>(param);
  CDownloadWatch watch(&job->state);
  job->hr = URLDownloadToFileA(nullptr, job->url.c_str(), job->temp.c_str(), 0, &watch);
  job->status = watch.m_status;
  job->received = watch.m_received;
  job->announced = watch.m_announced;
  job->tooLarge = watch.m_tooLarge;
  // Finished after the deadline: the caller has gone on with the cached copy, and what
  // arrived is this thread's to remove.
  if (InterlockedCompareExchange(&job->state, kJobDone, kJobRunning) == kJobAbandoned)
    DeleteFileA(job->temp.c_str());
  ReleaseJob(job);
  return 0;
}

// A temporary file of this call alone: a download abandoned at its deadline may still be
// writing its own.
std::string TempPathFor(const std::string& target) {
  static volatile LONG serial = 0;
  return Format("%s.%lu-%ld.tmp", target.c_str(), static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<long>(InterlockedIncrement(&serial)));
}

// A list is a document with this root element; an error page of a captive network or a
// maintenance page answered with 200 is not.
bool HasRootElement(const std::string& path, const char* root) {
  CXmlDoc doc;
  doc.LoadFile(path);
  return doc.FindNext(root);
}

bool FileSize(const std::string& path, unsigned long long* size) {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa)) return false;
  if (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  *size = (static_cast<unsigned long long>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
  return true;
}

}  // namespace

bool DownloadListFile(const std::string& url, const std::string& target, const char* root) {
  if (url.empty() || target.empty() || !root) return false;
  CDownloadJob* job = new CDownloadJob;
  job->url = url;
  job->temp = TempPathFor(target);
  HANDLE thread = CreateThread(nullptr, 0, &DownloadThread, job, 0, nullptr);
  if (!thread) {
    delete job;
    return false;
  }
  // A service that accepts and then stalls must not hold the caller (the start, before any
  // window exists; the worker's route job) for longer than the deadline.
  DWORD waited = WaitForSingleObject(thread, kListDownloadDeadlineMs);
  CloseHandle(thread);
  bool finished = waited == WAIT_OBJECT_0 ||
                  InterlockedCompareExchange(&job->state, kJobAbandoned, kJobRunning) == kJobDone;
  if (!finished) {
    ReleaseJob(job);
    return false;
  }

  std::string temp = job->temp;
  unsigned long long size = 0;
  bool complete = SUCCEEDED(job->hr) && !job->tooLarge && job->status >= 200 &&
                  job->status < 300 && FileSize(temp, &size) && size > 0 &&
                  (job->announced == 0 || job->received == job->announced);
  ReleaseJob(job);
  if (!complete || !HasRootElement(temp, root)) {
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
  DownloadListFile(serversUrl, serversPath, "Data");
  DownloadListFile(groupsUrl, groupsPath, "Data");
  return lines.ReadGroups(groupsPath);
}
