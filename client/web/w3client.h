// W3Client: the client's small HTTP client over WinINet, for the POSTs whose answer the
// client reads (the diagnostic report's upload). One object per exchange: connect, add
// fields and cookies, send one request, read the body until 0.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>
#include <vector>

#include "client/web/w3_parts.h"

class W3Client {
 public:
  enum { kGet = 0, kFormPost = 1, kMultipartPost = 2 };

  W3Client();
  virtual ~W3Client();
  W3Client(const W3Client&) = delete;
  W3Client& operator=(const W3Client&) = delete;

  // Opens the Internet and connection handles for one server. Port 0 takes the scheme's
  // default; user and password may be null.
  virtual bool OpenServer(const char* server, int port, const char* user, const char* password,
                          int scheme, const char* agent);
  virtual bool PostMultipart(const char* path, const char* referrer);
  virtual bool PostForm(const char* path, const char* referrer);
  virtual bool Get(const char* path, const char* referrer);

  // Splits url and opens its server; the URL's user and password count when the caller
  // passes none.
  bool Connect(const char* url, const char* user, const char* password, const char* agent);
  void AddField(const char* name, const char* value, bool isFile);
  void AddCookie(const char* name, const char* value);
  // kind: kGet, kFormPost or kMultipartPost; any other kind sends nothing.
  bool Request(const char* path, int kind, const char* referrer);
  // Bytes of the answer's body read into buffer; 0 at its end or on failure.
  DWORD Response(void* buffer, DWORD size);

  // Connect, send and receive time-outs of the handles opened from now on (WinINet's own,
  // minutes long, while this is 0).
  void SetTimeouts(DWORD ms) { m_timeoutMs = ms; }
  // The status code of the last request's answer; 0 when there is none.
  DWORD StatusCode() const;

  const std::string& Path() const { return m_path; }
  // The short text of the last failure, "" after a success; no user ever sees it.
  const char* LastFailure() const { return m_failure; }

 private:
  struct Cookie {
    std::string name;
    std::string value;
  };

  void OpenRequest(const char* verb, const char* path, const char* referrer, DWORD flags);
  void SetCookies(const char* path);
  void CloseRequest();
  void CloseServer();
  bool Fail(const char* text);
  // Runs one request's steps; a failure raised inside becomes a false result.
  bool RunRequest(const std::function<void()>& send);

  HINTERNET m_hInternet;
  HINTERNET m_hConnection;
  HINTERNET m_hRequest;
  std::string m_server;
  std::string m_user;
  std::string m_password;
  std::string m_path;
  int m_port;
  int m_scheme;
  std::vector<w3::FormField> m_fields;
  std::vector<Cookie> m_cookies;
  const char* m_failure;
  DWORD m_timeoutMs = 0;
};
