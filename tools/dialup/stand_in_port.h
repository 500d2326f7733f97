// The loopback port of the service stand-in's pages, where the test tooling under Wine asks
// it for what only it can do (the password check, the simulated network): the environment
// variable ACCEL_STUB_WEB_PORT, default 80.
#pragma once

#include <windows.h>

#include <cstdlib>

inline unsigned StandInWebPort() {
  char buf[16];
  DWORD n = GetEnvironmentVariableA("ACCEL_STUB_WEB_PORT", buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return 80;
  char* end = nullptr;
  unsigned long port = std::strtoul(buf, &end, 10);
  if (end == buf || *end != '\0' || port == 0 || port > 65535) return 80;
  return static_cast<unsigned>(port);
}
