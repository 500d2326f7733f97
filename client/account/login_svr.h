// One login server of "servers.xml" (LoginServer/Server); the login tries them in
// document order.
#pragma once

#include <cstdint>
#include <string>

class CLoginSvr {
 public:
  CLoginSvr() {}
  CLoginSvr(const std::string& address, uint16_t port) : m_address(address), m_port(port) {}

  std::string m_address;  // host name or dotted address
  uint16_t m_port = 0;
};
