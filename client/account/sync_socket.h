// One Winsock socket with blocking-style calls under time-outs: connect, receive, send and
// datagram send to a named host. The login talks UDP through it and the background worker
// sends its raw ICMP probes through it. Failures are return values and run-log lines.
#pragma once

#include <winsock2.h>

class CSyncSocket {
 public:
  // Every object starts Winsock for itself, so several may live at once: Winsock counts
  // the start-ups and each object gives back exactly the one it holds.
  CSyncSocket();
  ~CSyncSocket();
  CSyncSocket(const CSyncSocket&) = delete;
  CSyncSocket& operator=(const CSyncSocket&) = delete;

  // The new handle, or INVALID_SOCKET with the handle left unset. A socket the object
  // still held is closed first. A raw socket of the default protocol gets IP_HDRINCL.
  SOCKET Create(int af, int type, int protocol);
  // Closes the socket if there is one and gives back the Winsock start-up; a second call
  // finds nothing left to give back.
  void Close();

  // The result of ioctlsocket(FIONBIO): 0 on success.
  int SetNonBlocking(bool on);
  // The result of select for reading: 0 on time-out, negative on error.
  int WaitReadable(int timeoutMs);

  int Send(const char* data, int length, int flags);
  // With a time-out above 0, 0 when nothing arrives in time; else the result of recv.
  int Receive(char* buffer, int size, int flags, int timeoutMs);
  // 1 connected, 0 failed. The socket stays non-blocking afterwards.
  int Connect(const char* host, int port, int timeoutMs);
  // 1 sent, 0 failed. No host means the broadcast address.
  int SendTo(const char* data, int length, int port, const char* host, int flags);

  SOCKET Handle() const { return handle_; }

 private:
  SOCKET handle_;
  bool started_;  // holds one Winsock start-up that Close has not given back yet
};
