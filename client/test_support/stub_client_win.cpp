#include "client/test_support/stub_client.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace testing_support {

int HttpRequest(int port, const std::string& method, const std::string& target,
                const std::string& body, std::string* responseBody) {
  static bool started = false;
  if (!started) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    started = true;
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return 0;
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    closesocket(s);
    return 0;
  }
  std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Type: application/x-www-form-urlencoded\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n" + body;
  send(s, request.data(), static_cast<int>(request.size()), 0);
  std::string response;
  char buf[4096];
  int n;
  while ((n = recv(s, buf, sizeof buf, 0)) > 0) response.append(buf, static_cast<size_t>(n));
  closesocket(s);
  int status = 0;
  if (response.compare(0, 5, "HTTP/") == 0) {
    size_t sp = response.find(' ');
    if (sp != std::string::npos) status = std::atoi(response.c_str() + sp + 1);
  }
  size_t split = response.find("\r\n\r\n");
  if (responseBody) *responseBody = split == std::string::npos ? "" : response.substr(split + 4);
  return status;
}

bool SetStubMode(const std::string& path, const std::string& mode) {
  std::string ignored;
  int status =
      HttpRequest(kStubListPort, "POST", "/_control", "path=" + path + "&mode=" + mode, &ignored);
  return status == 200;
}

CLoopbackServer::CLoopbackServer(const std::string& body) : m_body(body) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  int len = sizeof addr;
  bind(s, reinterpret_cast<sockaddr*>(&addr), len);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  listen(s, 4);
  m_listener = s;
  m_port = ntohs(addr.sin_port);
  m_thread = CreateThread(nullptr, 0, &Serve, this, 0, nullptr);
}

CLoopbackServer::~CLoopbackServer() {
  closesocket(static_cast<SOCKET>(m_listener));  // ends the thread's accept
  WaitForSingleObject(m_thread, 5000);
  CloseHandle(m_thread);
  WSACleanup();
}

std::string CLoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

DWORD WINAPI CLoopbackServer::Serve(LPVOID param) {
  CLoopbackServer* self = static_cast<CLoopbackServer*>(param);
  for (;;) {
    SOCKET c = accept(static_cast<SOCKET>(self->m_listener), nullptr, nullptr);
    if (c == INVALID_SOCKET) return 0;
    std::string request;
    char buf[4096];
    int n;
    while (request.find("\r\n\r\n") == std::string::npos &&
           (n = recv(c, buf, sizeof buf, 0)) > 0)
      request.append(buf, static_cast<size_t>(n));
    InterlockedIncrement(&self->m_requests);
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n"
                         "Content-Length: " + std::to_string(self->m_body.size()) + "\r\n\r\n" +
                         self->m_body;
    for (size_t at = 0; at < answer.size();) {
      n = send(c, answer.data() + at, static_cast<int>(answer.size() - at), 0);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    shutdown(c, SD_SEND);
    while (recv(c, buf, sizeof buf, 0) > 0) {
    }
    closesocket(c);
  }
}

namespace {

// A JSON string starting at its opening quote, back to bytes.
std::string JsonString(const std::string& line, size_t quote) {
  std::string out;
  for (size_t i = quote + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      out += line[i];
      continue;
    }
    char c = line[++i];
    switch (c) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u':
        out += static_cast<char>(std::strtol(line.substr(i + 1, 4).c_str(), nullptr, 16));
        i += 4;
        break;
      default: out += c;
    }
  }
  return out;
}

std::vector<std::string> MatchingRecords(const std::string& name, const std::string& value) {
  std::vector<std::string> out;
  std::string record;
  if (!ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &record)) return out;
  const std::string member = "\"" + name + "\":\"" + value + "\"";
  size_t pos = 0;
  while (pos < record.size()) {
    size_t end = record.find('\n', pos);
    if (end == std::string::npos) end = record.size();
    std::string line = record.substr(pos, end - pos);
    if (line.find(member) != std::string::npos) out.push_back(line);
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::string LastStubRecord(const std::string& name, const std::string& value) {
  std::vector<std::string> lines = MatchingRecords(name, value);
  return lines.empty() ? std::string() : lines.back();
}

size_t CountStubRecords(const std::string& name, const std::string& value) {
  return MatchingRecords(name, value).size();
}

std::string RecordString(const std::string& line, const std::string& name) {
  size_t at = line.find("\"" + name + "\":\"");
  return at == std::string::npos ? std::string("<none>") : JsonString(line, at + name.size() + 3);
}

std::string RecordHeader(const std::string& line, const std::string& name) {
  size_t at = line.find("[\"" + name + "\",\"");
  return at == std::string::npos ? std::string("<none>") : JsonString(line, at + name.size() + 4);
}

std::string WinePath(const std::string& unixPath) {
  std::string out = "Z:";
  for (char c : unixPath) out += c == '/' ? '\\' : c;
  return out;
}

std::string EnvPath(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? WinePath(v) : std::string();
}

std::string MakeTempDir(const char* tag) {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  static unsigned counter = 0;
  for (;;) {
    char dir[MAX_PATH];
    std::snprintf(dir, sizeof dir, "%saccel_%s_%lu_%u", base, tag, GetCurrentProcessId(),
                  ++counter);
    if (CreateDirectoryA(dir, nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes->clear();
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
  std::fclose(f);
  return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string MakeOfflineProgramDir(const char* tag) {
  std::string dir = MakeTempDir(tag);
  if (dir.empty()) return dir;
  CreateDirectoryA((dir + "\\Cache").c_str(), nullptr);
  if (!WriteFileBytes(dir + "\\service.ini", "[Service]\r\nClientHost=127.0.0.2\r\n"))
    return std::string();
  return dir;
}

CRecordingWindow::CRecordingWindow(Handler handler) : m_handler(std::move(handler)) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "AccelTestRecordingWindow";
  RegisterClassA(&wc);  // a second registration fails harmlessly
  m_hWnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CRecordingWindow::~CRecordingWindow() { DestroyWindow(m_hWnd); }

LRESULT CALLBACK CRecordingWindow::Proc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CRecordingWindow* self =
      reinterpret_cast<CRecordingWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  if (self && self->m_handler && self->m_handler(message, wParam, lParam)) return 0;
  return DefWindowProcA(wnd, message, wParam, lParam);
}

void PumpUntil(const std::function<bool()>& done, DWORD ms) {
  DWORD until = GetTickCount() + ms;
  while (!done() && static_cast<LONG>(until - GetTickCount()) > 0) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

}  // namespace testing_support
