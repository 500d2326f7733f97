// CreateIpForwardEntry of the stand-in iphlpapi.dll (test tooling, not shipped). Wine's own
// function answers 0 and changes nothing, so under Wine the client's route job never meets a
// routing table. Here each row goes to the service stand-in, which runs in the simulated
// network's namespace and applies it to that namespace's kernel table, answering with the
// code Windows gives (GET /_route?dest=D&mask=M&nexthop=H&ifindex=I&metric=N on 127.0.0.1,
// port ACCEL_STUB_WEB_PORT, default 80). Every other export is Wine's (iphlpapi.def).
//
// Plain Winsock rather than WinINet: every library of the process that imports iphlpapi
// loads this one, which should not bring WinINet, its proxy settings and caches along.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text_format.h"
#include "tools/dialup/stand_in_port.h"

namespace {

const DWORD kConnectTimeoutMs = 2000;
const DWORD kAnswerTimeoutMs = 5000;
const size_t kMaxAnswer = 4096;

// The row's addresses are in network byte order: their bytes, in memory order.
std::string Dotted(DWORD address) {
  const BYTE* b = reinterpret_cast<const BYTE*>(&address);
  return Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

struct CSocket {
  CSocket() : s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  ~CSocket() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
  SOCKET s;
};

bool ConnectWithin(SOCKET s, const sockaddr_in& to, DWORD ms) {
  u_long on = 1;
  if (ioctlsocket(s, FIONBIO, &on) != 0) return false;
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return false;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval tv = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, &tv) <= 0 || !FD_ISSET(s, &writable)) return false;
  int error = 0;
  int len = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
      error != 0) {
    return false;
  }
  u_long off = 0;
  return ioctlsocket(s, FIONBIO, &off) == 0;
}

// The value of a Content-Length header in the header block, or -1.
long ContentLength(const std::string& head) {
  size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string::npos) {
    at += 2;
    static const char kName[] = "content-length:";
    if (head.size() - at >= sizeof kName - 1 &&
        _strnicmp(head.c_str() + at, kName, sizeof kName - 1) == 0) {
      const char* v = head.c_str() + at + sizeof kName - 1;
      while (*v == ' ' || *v == '\t') ++v;
      char* end = nullptr;
      long n = std::strtol(v, &end, 10);
      return end != v && n >= 0 ? n : -1;
    }
  }
  return -1;
}

// One GET from the stand-in; false when it could not be reached or gave no whole answer.
bool Get(const std::string& target, int* status, std::string* body) {
  CSocket sock;
  if (sock.s == INVALID_SOCKET) return false;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<u_short>(StandInWebPort()));
  if (!ConnectWithin(sock.s, to, kConnectTimeoutMs)) return false;
  DWORD timeout = kAnswerTimeoutMs;
  setsockopt(sock.s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  setsockopt(sock.s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  std::string request = Format("GET %s HTTP/1.0\r\nHost: 127.0.0.1:%u\r\nConnection: close\r\n\r\n",
                               target.c_str(), StandInWebPort());
  for (size_t sent = 0; sent < request.size();) {
    int n = send(sock.s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }

  std::string answer;
  size_t headEnd = std::string::npos;
  long length = -1;
  char buf[1024];
  for (;;) {
    if (headEnd != std::string::npos && length >= 0 &&
        answer.size() - headEnd >= static_cast<size_t>(length)) {
      break;
    }
    int n = recv(sock.s, buf, sizeof buf, 0);
    if (n == 0) break;           // the stand-in closed: the answer is whole
    if (n < 0) return false;     // time-out or reset
    answer.append(buf, static_cast<size_t>(n));
    if (answer.size() > kMaxAnswer) return false;
    if (headEnd == std::string::npos) {
      size_t at = answer.find("\r\n\r\n");
      if (at != std::string::npos) {
        headEnd = at + 4;
        length = ContentLength(answer.substr(0, at));
      }
    }
  }
  if (headEnd == std::string::npos) return false;
  // "HTTP/1.x NNN ..."
  if (answer.compare(0, 5, "HTTP/") != 0) return false;
  size_t sp = answer.find(' ');
  if (sp == std::string::npos || sp > headEnd) return false;
  *status = std::atoi(answer.c_str() + sp + 1);
  body->assign(answer, headEnd, length >= 0 ? static_cast<size_t>(length) : std::string::npos);
  return true;
}

// A body that is a decimal code and nothing else (line ends and blanks around it aside).
bool ParseCode(const std::string& body, DWORD* code) {
  size_t b = body.find_first_not_of(" \t\r\n");
  size_t e = body.find_last_not_of(" \t\r\n");
  if (b == std::string::npos || e - b + 1 > 10) return false;
  unsigned long long v = 0;
  for (size_t i = b; i <= e; ++i) {
    if (body[i] < '0' || body[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(body[i] - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  *code = static_cast<DWORD>(v);
  return true;
}

}  // namespace

extern "C" DWORD WINAPI CreateIpForwardEntry(PMIB_IPFORWARDROW row) {
  if (!row) return ERROR_INVALID_PARAMETER;
  std::string target = Format("/_route?dest=%s&mask=%s&nexthop=%s&ifindex=%lu&metric=%lu",
                              Dotted(row->dwForwardDest).c_str(),
                              Dotted(row->dwForwardMask).c_str(),
                              Dotted(row->dwForwardNextHop).c_str(),
                              static_cast<unsigned long>(row->dwForwardIfIndex),
                              static_cast<unsigned long>(row->dwForwardMetric1));
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return ERROR_GEN_FAILURE;
  int status = 0;
  std::string body;
  DWORD code = ERROR_GEN_FAILURE;
  // A stand-in without the simulated network answers 404: the route was not made.
  if (!Get(target, &status, &body) || status != 200 || !ParseCode(body, &code)) {
    code = ERROR_GEN_FAILURE;
  }
  WSACleanup();
  return code;
}
