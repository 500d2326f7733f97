// The tunnel module's contract with its host: the six exports and the window messages
// that the module posts to the host's window.
#pragma once

#include <windows.h>

// Posted to the host window; text pointers point into the module's own buffers and must
// be copied when the message is handled.
#define WM_TUNNEL_CONNECTED (WM_USER + 10)     // 0, client address text
#define WM_TUNNEL_ERROR (WM_USER + 11)         // error code, 0 or error text
#define WM_TUNNEL_DISCONNECTED (WM_USER + 12)  // reason, reason
#define WM_TUNNEL_DIALING (WM_USER + 13)       // 0, 0
#define WM_TUNNEL_CLOSING (WM_USER + 14)       // 0, 0
#define WM_TUNNEL_STATUS (WM_USER + 15)        // dial state, progress text

typedef int(WINAPI* PFN_InitCoreApi)(HWND hUiWnd);
typedef int(WINAPI* PFN_UninitCoreApi)();
typedef int(WINAPI* PFN_StartConnect)(const char* serverHost, const char* serverName,
                                      const char* reserved, const char* userName,
                                      const char* password, int reservedNumber);
typedef int(WINAPI* PFN_CloseConnect)();
typedef int(WINAPI* PFN_TimerNotification)();
typedef int(WINAPI* PFN_GetConnectionIp)();
