#include "collector/url_fetch.h"

#include <windows.h>
#include <urlmon.h>

#include "common/download_watch_win.h"
#include "common/xml_doc.h"

namespace {

bool FileSize(const std::string& path, unsigned long long* size) {
  WIN32_FILE_ATTRIBUTE_DATA fa;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &fa)) return false;
  if (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  *size = (static_cast<unsigned long long>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow;
  return true;
}

}  // namespace

bool FetchListFile(const std::string& url, const std::string& target, const char* root) {
  std::string temp = target + ".tmp";
  DeleteFileA(temp.c_str());
  CDownloadWatch watch(kGameListMaxBytes);
  HRESULT hr = URLDownloadToFileA(nullptr, url.c_str(), temp.c_str(), 0, &watch);
  unsigned long long size = 0;
  bool complete = SUCCEEDED(hr) && watch.Answered2xx() && FileSize(temp, &size) && size > 0 &&
                  (watch.m_announced == 0 || watch.m_received == watch.m_announced);
  if (complete) {
    CXmlDoc doc;
    complete = doc.LoadFile(temp) && doc.FindNext(root);
  }
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
  CDownloadWatch watch(64UL * 1024);
  HRESULT hr = URLDownloadToCacheFileA(nullptr, url.c_str(), cacheFile, sizeof cacheFile, 0,
                                       &watch);
  return SUCCEEDED(hr) && watch.Answered2xx();
}
