// One simulated dial: the entry is looked up, the connection is registered in the shared
// table and the usual progress states are walked (on a thread of its own unless the caller
// wants a synchronous dial), with the password checked against the service stand-in.
//
// Knobs for scripted runs, read from the environment when a dial starts:
//   ACCEL_DIALUP_DELAY_MS  pause between two progress states (default 100)
//   ACCEL_DIALUP_FAIL      an error code to fail with: 756 is returned by the dial call
//                          itself, 691 comes at the authentication state, any other code at
//                          the connect-device state
//   ACCEL_DIALUP_NEVER_UP  not 0: the dial stops at the connect-device state and stays there,
//                          without an error, until it is hung up (a server that never answers)
//   ACCEL_DIALUP_DROP_MS   a connection drops this many milliseconds after it came up (the
//                          link goes dead: disconnected with error 629); 0 or unset: never
//   ACCEL_DIALUP_NO_INTERFACE  not 0: the stand-in is not asked for a tunnel interface, so
//                          the connection reports an address that no interface carries
//
// Before a dial reports RASCS_Connected it asks the stand-in for the tunnel interface with
// the connection's client address (see auth_check.h) and waits for the answer, so that the
// interface exists when the caller reads the routing table.
#pragma once

#include <windows.h>
#include <ras.h>

#include <string>

namespace dialup {

struct DialRequest {
  std::string phonebook;  // as the caller gave it (null becomes "")
  std::string entry;
  std::string phone;      // overrides the entry's number when not empty
  std::string user;
  std::string password;
  ULONG_PTR callbackId = 0;
  DWORD subEntry = 0;
  DWORD notifierType = 0;      // 0, 1, 2, or 0xFFFFFFFF for a window
  void* notifier = nullptr;    // null: synchronous dial
};

// RasDialA's contract: 0 when the dial is under way (or, synchronously, connected), else an
// error code. *handle is set whenever a connection was registered, also when a synchronous
// dial failed (the caller hangs up as with the real service).
DWORD Dial(const DialRequest& request, HRASCONN* handle);

// A decimal number from the environment, or the fallback when unset or not a number.
DWORD EnvNumber(const char* name, DWORD fallback);

// A switch from the environment: on when set to anything but "0" (or empty).
bool EnvSwitch(const char* name);

}  // namespace dialup
