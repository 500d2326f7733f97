#include <windows.h>
#include <urlmon.h>

#include "client/accel/list_download.h"
#include "common/download_watch_win.h"
#include "common/text_format.h"
#include "common/xml_doc.h"

namespace {

enum : LONG { kJobRunning = 0, kJobDone = 1, kJobAbandoned = 2 };

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

// Asked by the watch on every progress report: the caller gave up at its deadline.
bool JobAbandoned(void* job) {
  return static_cast<CDownloadJob*>(job)->state == kJobAbandoned;
}

DWORD WINAPI DownloadThread(LPVOID param) {
  CDownloadJob* job = static_cast<CDownloadJob*>(param);
  CDownloadWatch watch(kListDownloadMaxBytes, &JobAbandoned, job);
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

// A list is a whole document with this root element. An error page of a captive network
// or a maintenance page answered with 200 is not; nor is a list cut inside an element (a
// proxy that truncates, a service that fails half-way with a length header that matched):
// the reader keeps such a root as far as it got, and it would lose the cached copy's lines.
bool IsWholeList(const std::string& path, const char* root) {
  CXmlDoc doc;
  return doc.LoadFile(path) && doc.FindNext(root);
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
  if (!complete || !IsWholeList(temp, root)) {
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
