// The login exchange with the login servers: one UDP request, one answer, tried server by
// server. Runs on the calling thread (the background worker) and blocks while it waits.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "client/account/sync_socket.h"

class CConfigStore;

// A server's result fills a whole 32-bit field, so every value that fits in one may come
// from a server; the client's own "nobody answered" lies outside that range.
const int64_t kLoginNoAnswer = -1;

class CLoginSocket {
 public:
  explicit CLoginSocket(CConfigStore* store);
  virtual ~CLoginSocket();
  CLoginSocket(const CLoginSocket&) = delete;
  CLoginSocket& operator=(const CLoginSocket&) = delete;

  // 0 success (the store's login code, account kind and expiry texts are set);
  // kLoginNoAnswer when no login server gave a usable answer; anything else is the server's
  // error code, 1 included.
  int64_t Login(const std::string& user, const std::string& password,
                const std::string& lineHost);

  // The hardware address of the first NetBIOS adapter that answers, as 12 upper-case hex
  // digits; "" when none does.
  static std::string GetHostId();

 private:
  CConfigStore* m_store;
  CSyncSocket m_socket;
  uint32_t m_requestNumber;
};
