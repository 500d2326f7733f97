// Dial-up mechanics called by the worker: service start, dial, client address, hang-up,
// and (Windows 7 build) the poll of the active connections.
#pragma once

#include <windows.h>
#include <ras.h>

#include <string>
#include <vector>

extern const char kEntryName[];  // "VelaVPN"

// Text shown for a dial state reported by the dial-up service.
const char* DialStateText(DWORD state);

void StartDialServices();

struct ListedConnection {
  HRASCONN handle;
  std::string entryName;
};
// The active connections of the system, in the layout of the build's Windows. 0 or the
// service's error code (603 after five tries that each asked for more room).
DWORD ListConnections(std::vector<ListedConnection>* connections);
// Hangs up every connection of our entry that is already there when the worker starts:
// after a killed or crashed client it would carry the old line's routes, and a new dial
// would either reuse it or sit beside it. One log line each, with the address it had.
void HangUpLeftovers();
// Hangs up and waits, up to tries times 100 ms, until the service has let the handle go.
void HangUpAndWait(HRASCONN conn, int tries);
// 0 when the dial is under way, else an error code.
DWORD Dial(const char* serverHost, const char* userName, const char* password, HRASCONN* conn);
// 1 when the client address text was filled.
int FetchClientIp(HRASCONN conn, char* ipText, size_t ipTextSize);
// 1 when the connection is gone; 0 on time-out.
int HangUp(HRASCONN* conn);
#ifdef TUNNEL_W7
// 1 when an active "VelaVPN" connection with a known address exists (its handle goes to
// *conn and its address to ipText), 0 when none does, -1 when the list could not be read.
int PollConnection(HRASCONN* conn, char* ipText, size_t ipTextSize);
// Ends a dial the worker gave up on, or one still running at exit, with the system's
// disconnect command; unlike HangUp, nothing is reported to the worker.
void AbandonDial();
// A dial waits for the disconnect command that HangUp or AbandonDial started last; at the
// worker's end nothing dials any more, and the command is let go without a wait.
void ForgetHangUpCommand();
#else
// False once the service reports the connection gone: an unknown handle, the disconnected
// state or an error. Windows calls the dial-progress callback only while dialing, so a
// line that drops later is seen only by asking.
bool ConnectionAlive(HRASCONN conn);
// Hangs up the handle of a dial that failed and waits until the service has let it go;
// nothing is posted to the worker or the window. The handle becomes null.
void ReleaseFailedDial(HRASCONN* conn);
#endif
