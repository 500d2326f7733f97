#include "client/web/w3client.h"

#include <cstdio>

namespace {

// Failures inside one operation; each public operation catches them and answers false/0.
struct W3Failure {
  const char* text;
};

bool IsOpen(HINTERNET h) { return h != NULL && h != INVALID_HANDLE_VALUE; }

// A missing or unreadable file gives false: its part is then sent as the header alone.
bool ReadWholeFile(const std::string& path, std::string* bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  char block[1024];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, NULL) && got > 0) bytes->append(block, got);
  CloseHandle(file);
  return true;
}

void AddHeader(HINTERNET request, const char* header, DWORD modifier) {
  if (!HttpAddRequestHeadersA(request, header, static_cast<DWORD>(-1), modifier))
    throw W3Failure{"additional header failed..."};
}

// The record that HttpSendRequestExA takes carries its own size only; the body goes
// through InternetWriteFile.
#if !defined(_WIN64)
static_assert(sizeof(INTERNET_BUFFERSA) == 40, "INTERNET_BUFFERSA of the 32-bit headers");
#endif

}  // namespace

W3Client::W3Client()
    : m_hInternet(NULL), m_hConnection(NULL), m_hRequest(NULL), m_port(0),
      m_scheme(w3::kSchemeHttp), m_failure("") {}

W3Client::~W3Client() {
  CloseRequest();
  CloseServer();
}

void W3Client::CloseRequest() {
  if (IsOpen(m_hRequest)) InternetCloseHandle(m_hRequest);
  m_hRequest = NULL;
}

void W3Client::CloseServer() {
  if (IsOpen(m_hConnection)) InternetCloseHandle(m_hConnection);
  if (IsOpen(m_hInternet)) InternetCloseHandle(m_hInternet);
  m_hConnection = NULL;
  m_hInternet = NULL;
}

bool W3Client::Fail(const char* text) {
  CloseRequest();
  m_failure = text;
  return false;
}

bool W3Client::RunRequest(const std::function<void()>& send) {
  try {
    send();
    m_failure = "";
    return true;
  } catch (const W3Failure& f) {
    return Fail(f.text);
  } catch (...) {
    return Fail("unknown exception...");
  }
}

bool W3Client::OpenServer(const char* server, int port, const char* user, const char* password,
                          int scheme, const char* agent) {
  try {
    // A second open starts over: the handles of the earlier server are not leaked.
    CloseRequest();
    CloseServer();
    m_hInternet = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
    if (!IsOpen(m_hInternet)) throw W3Failure{"open internet failed..."};
    if (m_timeoutMs) {
      // Set on the Internet handle, they hold for the connection and its requests.
      const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                               INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};
      for (DWORD option : options) {
        DWORD ms = m_timeoutMs;
        InternetSetOptionA(m_hInternet, option, &ms, sizeof ms);
      }
    }

    DWORD service = INTERNET_SERVICE_HTTP;
    DWORD flags = 0;
    int defaultPort = 80;
    if (scheme == w3::kSchemeFtp) {
      service = INTERNET_SERVICE_FTP;
      flags = INTERNET_FLAG_PASSIVE;
      defaultPort = 21;
    } else if (scheme == w3::kSchemeHttps) {
      defaultPort = 443;
    }
    if (port == 0) port = defaultPort;
    m_hConnection = InternetConnectA(m_hInternet, server, static_cast<INTERNET_PORT>(port), user,
                                     password, service, flags, 0);
    if (!IsOpen(m_hConnection) || InternetAttemptConnect(0) != ERROR_SUCCESS)
      throw W3Failure{"connect failed..."};

    m_server = server ? server : "";
    m_port = port;
    m_scheme = scheme;
    if (user) m_user = user;
    if (password) m_password = password;
    m_fields.clear();
    m_cookies.clear();
    m_failure = "";
    return true;
  } catch (const W3Failure& f) {
    CloseServer();
    return Fail(f.text);
  } catch (...) {
    CloseServer();
    return Fail("unknown exception...");
  }
}

bool W3Client::Connect(const char* url, const char* user, const char* password,
                       const char* agent) {
  w3::UrlParts parts;
  try {
    if (!url || !w3::SplitUrl(url, &parts)) return Fail("connect failed...");
    m_path = parts.path;
  } catch (...) {
    return Fail("unknown exception...");
  }
  if (!user && parts.hasUser) user = parts.user.c_str();
  if (!password && parts.hasPassword) password = parts.password.c_str();
  return OpenServer(parts.host.c_str(), parts.port, user, password,
                    w3::SchemeNumber(parts.scheme), agent);
}

void W3Client::AddField(const char* name, const char* value, bool isFile) {
  try {
    w3::FormField f;
    f.name = name ? name : "";
    f.value = value ? value : "";
    f.isFile = isFile;
    m_fields.push_back(f);
  } catch (...) {
    m_failure = "unknown exception...";
  }
}

void W3Client::AddCookie(const char* name, const char* value) {
  try {
    Cookie c;
    c.name = name ? name : "";
    c.value = value ? value : "";
    m_cookies.push_back(c);
  } catch (...) {
    m_failure = "unknown exception...";
  }
}

void W3Client::OpenRequest(const char* verb, const char* path, const char* referrer,
                           DWORD flags) {
  CloseRequest();
  if (!IsOpen(m_hConnection)) throw W3Failure{"handle not opened..."};
  if (m_scheme == w3::kSchemeHttps) flags |= INTERNET_FLAG_SECURE;
  const char* acceptTypes[] = {"*/*", NULL};
  m_hRequest = HttpOpenRequestA(m_hConnection, verb, path, "HTTP/1.0", referrer, acceptTypes,
                                flags, 0);
  if (!IsOpen(m_hRequest)) {
    m_hRequest = NULL;
    throw W3Failure{"request failed..."};
  }
  AddHeader(m_hRequest, "Accept: */*\r\n", HTTP_ADDREQ_FLAG_REPLACE);
}

void W3Client::SetCookies(const char* path) {
  if (m_cookies.empty()) return;
  std::string url = w3::CookieUrl(m_scheme, m_server, m_port, path ? path : "/");
  for (const Cookie& c : m_cookies) {
    if (!InternetSetCookieA(url.c_str(), c.name.c_str(), c.value.c_str()))
      throw W3Failure{"add cookie failed..."};
  }
}

bool W3Client::Get(const char* path, const char* referrer) {
  return RunRequest([&] {
    OpenRequest("GET", path, referrer, INTERNET_FLAG_NO_CACHE_WRITE);
    SetCookies(path);
    if (!HttpSendRequestA(m_hRequest, NULL, 0, NULL, 0)) throw W3Failure{"request failed..."};
  });
}

const DWORD kPostFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
static_assert(kPostFlags == 0x4400040, "flags of both POSTs");

bool W3Client::PostForm(const char* path, const char* referrer) {
  return RunRequest([&] {
    OpenRequest("POST", path, referrer, kPostFlags);
    SetCookies(path);
    std::string body = w3::FormBody(m_fields);
    static const char kType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    if (!HttpSendRequestA(m_hRequest, kType, static_cast<DWORD>(sizeof kType - 1),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size())) &&
        GetLastError() != ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION) {
      throw W3Failure{"request failed..."};
    }
  });
}

bool W3Client::PostMultipart(const char* path, const char* referrer) {
  return RunRequest([&] {
    OpenRequest("POST", path, referrer, kPostFlags);
    AddHeader(m_hRequest,
              "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY\r\n",
              HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    SetCookies(path);
    std::string body = w3::MultipartBody(m_fields, ReadWholeFile);
    if (body.size() > 0x7FFFFFFF) throw W3Failure{"request failed"};
    char length[48];
    std::snprintf(length, sizeof length, "Content-Length: %d\r\n", static_cast<int>(body.size()));
    AddHeader(m_hRequest, length, HTTP_ADDREQ_FLAG_ADD_IF_NEW);

    INTERNET_BUFFERSA buffers;
    ZeroMemory(&buffers, sizeof buffers);
    buffers.dwStructSize = sizeof buffers;
    if (!HttpSendRequestExA(m_hRequest, &buffers, NULL, HSR_INITIATE, 0))
      throw W3Failure{"request failed"};
    DWORD written = 0;
    if (!InternetWriteFile(m_hRequest, body.data(), static_cast<DWORD>(body.size()), &written) ||
        written != body.size())
      throw W3Failure{"request failed"};
    if (!HttpEndRequestA(m_hRequest, NULL, HSR_INITIATE, 0)) throw W3Failure{"request failed"};
  });
}

bool W3Client::Request(const char* path, int kind, const char* referrer) {
  if (!path) path = "/";
  bool sent = false;
  switch (kind) {
    case kGet: sent = Get(path, referrer); break;
    case kFormPost: sent = PostForm(path, referrer); break;
    case kMultipartPost: sent = PostMultipart(path, referrer); break;
    default: return Fail("unknown request kind...");
  }
  if (sent) {
    try {
      m_path = path;
    } catch (...) {
      return Fail("unknown exception...");
    }
  }
  return sent;
}

DWORD W3Client::Response(void* buffer, DWORD size) {
  if (!IsOpen(m_hRequest)) {
    m_failure = "connection failed...";
    return 0;
  }
  DWORD read = 0;
  if (!InternetReadFile(m_hRequest, buffer, size, &read)) {
    m_failure = "response failed...";
    return 0;
  }
  return read;
}

DWORD W3Client::StatusCode() const {
  if (!IsOpen(m_hRequest)) return 0;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      NULL))
    return 0;
  return status;
}
