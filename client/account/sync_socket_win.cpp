#include "client/account/sync_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "common/run_log.h"
#include "common/text_format.h"

// Winsock 2.2, asked for as the one number the platform expects.
static const WORD kWinsockVersion = 514;
static_assert(kWinsockVersion == MAKEWORD(2, 2), "Winsock 2.2");
static_assert(IP_HDRINCL == 2, "the Winsock 2 value of IP_HDRINCL");
static_assert(static_cast<unsigned long>(FIONBIO) == 0x8004667EUL, "FIONBIO");

namespace {

bool StartWinsock() {
  WSADATA wsa;
  return WSAStartup(kWinsockVersion, &wsa) == 0;
}

// A port that would not survive the cast to 16 bits would silently name another service.
bool IsPort(int port) { return port >= 0 && port <= 65535; }

// The first IPv4 address of a name lookup (or the last, for the datagram path). Anything
// but 4-byte addresses is refused: the copy goes into a 4-byte field.
bool LookUp(const char* host, bool last, in_addr* out) {
  hostent* he = gethostbyname(host);
  if (!he || he->h_length != 4 || !he->h_addr_list || !he->h_addr_list[0]) return false;
  int i = 0;
  if (last) {
    while (he->h_addr_list[i + 1]) ++i;
  }
  std::memcpy(out, he->h_addr_list[i], 4);
  return true;
}

}  // namespace

CSyncSocket::CSyncSocket() : handle_(INVALID_SOCKET), started_(StartWinsock()) {}

CSyncSocket::~CSyncSocket() { Close(); }

SOCKET CSyncSocket::Create(int af, int type, int protocol) {
  if (handle_ != INVALID_SOCKET) {
    closesocket(handle_);
    handle_ = INVALID_SOCKET;
  }
  // A socket created again after Close needs a start-up of its own again.
  if (!started_) started_ = StartWinsock();
  SOCKET s = socket(af, type, protocol);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  if (type == SOCK_RAW && protocol == 0) {
    // The caller writes the IP header itself on a raw socket of the default protocol.
    DWORD on = 1;
    setsockopt(s, IPPROTO_IP, IP_HDRINCL, reinterpret_cast<const char*>(&on), sizeof on);
  }
  handle_ = s;
  return s;
}

void CSyncSocket::Close() {
  if (handle_ != INVALID_SOCKET) {
    closesocket(handle_);
    handle_ = INVALID_SOCKET;
  }
  // Give back only a start-up this object still holds: a second Close (the destructor
  // after an explicit one) must not take away the start-up of another object.
  if (started_) {
    WSACleanup();
    started_ = false;
  }
}

int CSyncSocket::SetNonBlocking(bool on) {
  u_long value = on ? 1 : 0;
  return ioctlsocket(handle_, FIONBIO, &value);
}

int CSyncSocket::WaitReadable(int timeoutMs) {
  if (handle_ == INVALID_SOCKET) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  // A negative time-out is refused by Windows and taken as "forever" by other socket
  // layers; poll once instead.
  if (timeoutMs < 0) timeoutMs = 0;
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(handle_, &readSet);
  timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  return select(0, &readSet, nullptr, nullptr, &tv);
}

int CSyncSocket::Send(const char* data, int length, int flags) {
  return send(handle_, data, length, flags);
}

int CSyncSocket::Receive(char* buffer, int size, int flags, int timeoutMs) {
  if (timeoutMs > 0 && WaitReadable(timeoutMs) <= 0) return 0;
  return recv(handle_, buffer, size, flags);
}

int CSyncSocket::Connect(const char* host, int port, int timeoutMs) {
  if (handle_ == INVALID_SOCKET) return 0;
  if (!IsPort(port)) {
    WSASetLastError(WSAEINVAL);
    return 0;
  }
  // gethostbyname("") answers with this machine's own addresses: an empty host is no name.
  const char* name = host ? host : "";
  // Login server names come from the service's list: in the log, they never end a line.
  const std::string shownName = ShowControlBytes(name);
  const char* shown = shownName.c_str();
  in_addr addr;
  if (name[0] >= '0' && name[0] <= '9') {
    // Dotted text and its shorter numeric forms alike; what inet_addr makes of the rest
    // is used as it is.
    addr.s_addr = inet_addr(name);
  } else if (name[0] == '\0' || !LookUp(name, false, &addr)) {
    CRunLog::Write("%s 域名解析失败！\r\n", shown);
    return 0;
  }

  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr = addr;
  SetNonBlocking(true);
  if (connect(handle_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return 1;

  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) {
    CRunLog::Write("Connect(connect) %s:%d error, sock(%d), errorCode=%d\r\n", shown, port,
                   static_cast<int>(handle_), error);
    return 0;
  }
  if (timeoutMs <= 0) return 0;

  // Windows signals a refused or failed connect in the exception set and never makes the
  // socket writable; other socket layers make it writable with an error pending. Both
  // count as the failure of the connect, never as success.
  fd_set writeSet, errorSet;
  FD_ZERO(&writeSet);
  FD_ZERO(&errorSet);
  FD_SET(handle_, &writeSet);
  FD_SET(handle_, &errorSet);
  timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  int n = select(0, nullptr, &writeSet, &errorSet, &tv);
  if (n < 0) {
    CRunLog::Write("Connect(select) %s:%d error, errorCode=%d!\r\n", shown, port,
                   WSAGetLastError());
    return 0;
  }
  if (n == 0) {
    CRunLog::Write("Connect(select) %s:%d timeout!\r\n", shown, port);
    return 0;
  }
  int pending = 0;
  int len = sizeof pending;
  if (getsockopt(handle_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &len) != 0)
    pending = WSAGetLastError();
  if (pending == 0 && FD_ISSET(handle_, &errorSet)) pending = WSAECONNREFUSED;
  if (pending != 0) {
    CRunLog::Write("Connect(connect) %s:%d error, sock(%d), errorCode=%d\r\n", shown, port,
                   static_cast<int>(handle_), pending);
    return 0;
  }
  return 1;
}

int CSyncSocket::SendTo(const char* data, int length, int port, const char* host, int flags) {
  if (!IsPort(port)) {
    WSASetLastError(WSAEINVAL);
    return 0;
  }
  sockaddr_in to;
  std::memset(&to, 0, sizeof to);
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  if (!host) {
    to.sin_addr.s_addr = INADDR_BROADCAST;
  } else {
    // An unresolved destination would be 0.0.0.0, which some socket layers deliver to this
    // machine (and older inet_addr makes of an empty text): a failed lookup ends the send.
    bool known = host[0] != '\0';
    if (known) {
      to.sin_addr.s_addr = inet_addr(host);
      if (to.sin_addr.s_addr == INADDR_NONE) known = LookUp(host, true, &to.sin_addr);
    }
    if (!known) {
      WSASetLastError(WSAEINVAL);
      return 0;
    }
  }
  int n = sendto(handle_, data, length, flags, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return n >= 0 ? 1 : 0;
}
