// Test helpers for the client's tests that run under Wine against the local service
// stand-in: raw HTTP to it on loopback, its fault switch, paths and files.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// The stand-in's list port.
const int kStubListPort = 8080;

// One HTTP/1.0 exchange with 127.0.0.1; the status code (0 when no answer) and the body.
int HttpRequest(int port, const std::string& method, const std::string& target,
                const std::string& body, std::string* responseBody);

// POST /_control path=...&mode=... on the list port; true when the stand-in accepted it.
bool SetStubMode(const std::string& path, const std::string& mode);

// The stand-in's request record (ACCEL_STUB_RECORD), one JSON line per request: the last
// line whose string member name equals value ("" when there is none), and how many match.
std::string LastStubRecord(const std::string& name, const std::string& value);
size_t CountStubRecords(const std::string& name, const std::string& value);
// A string member of a record line back to its bytes (each byte was written as the code
// point of the same value); "<none>" when the line has no such member.
std::string RecordString(const std::string& line, const std::string& name);
// The value of a received header of a record line; "<none>" when it was not received.
std::string RecordHeader(const std::string& line, const std::string& name);

// A Unix path from the build (environment, CMake) as Wine's drive Z: sees it.
std::string WinePath(const std::string& unixPath);
std::string EnvPath(const char* name);  // WinePath of an environment variable, "" if unset

// A new empty directory under the temporary directory.
std::string MakeTempDir(const char* tag);

bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// A new program directory with its Cache whose service is down: service.ini points the
// client host at 127.0.0.2, where nothing listens, so the lists stay as cached.
std::string MakeOfflineProgramDir(const char* tag);

// Answers the requests of one loopback port of its own, each with status 200 and body
// under a Content-Length that matches it: a list damaged before it reached the client (cut
// by a proxy, broken off by the service) in a way the stand-in's faults cannot show.
class CLoopbackServer {
 public:
  explicit CLoopbackServer(const std::string& body);
  ~CLoopbackServer();
  CLoopbackServer(const CLoopbackServer&) = delete;
  CLoopbackServer& operator=(const CLoopbackServer&) = delete;
  // "http://127.0.0.1:<port>" + path.
  std::string Url(const std::string& path) const;
  LONG Requests() const { return m_requests; }

 private:
  static DWORD WINAPI Serve(LPVOID self);
  std::string m_body;
  UINT_PTR m_listener;
  int m_port = 0;
  HANDLE m_thread = nullptr;
  volatile LONG m_requests = 0;
};

// A message-only window that hands every message to its handler (true: handled).
class CRecordingWindow {
 public:
  typedef std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)> Handler;
  explicit CRecordingWindow(Handler handler);
  ~CRecordingWindow();
  CRecordingWindow(const CRecordingWindow&) = delete;
  CRecordingWindow& operator=(const CRecordingWindow&) = delete;
  HWND Handle() const { return m_hWnd; }
  LPARAM AsLParam() const { return reinterpret_cast<LPARAM>(m_hWnd); }

 private:
  static LRESULT CALLBACK Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
  Handler m_handler;
  HWND m_hWnd;
};

// Dispatches this thread's messages until done() holds or the time is up.
void PumpUntil(const std::function<bool()>& done, DWORD ms);

}  // namespace testing_support
