// Dial-up mechanics called by the worker: service start, dial, client address, hang-up,
// and (Windows 7 build) the poll of the active connections.
#pragma once

#include <windows.h>
#include <ras.h>

extern const char kEntryName[];  // "VelaVPN"

// Text shown for a dial state reported by the dial-up service.
const char* DialStateText(DWORD state);

void StartDialServices();
// 0 when the dial is under way, else an error code.
DWORD Dial(const char* serverHost, const char* userName, const char* password, HRASCONN* conn);
// 1 when the client address text was filled.
int FetchClientIp(HRASCONN conn, char* ipText, size_t ipTextSize);
// 1 when the connection is gone; 0 on time-out.
int HangUp(HRASCONN* conn);
#ifdef TUNNEL_W7
// 1 when an active "VelaVPN" connection with a known address exists; its handle goes to
// *conn and its address to ipText.
int PollConnection(HRASCONN* conn, char* ipText, size_t ipTextSize);
#else
// Hangs up the handle of a dial that failed and waits until the service has let it go;
// nothing is posted to the worker or the window. The handle becomes null.
void ReleaseFailedDial(HRASCONN* conn);
#endif
