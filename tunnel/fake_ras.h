// Scripted dial-up service and command runner for the tunnel module's tests.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "common/command_runner.h"
#include "tunnel/ras_api.h"

struct FakeConnection {
  std::string entryName;
  HRASCONN handle;
};

class FakeRas : public IRasApi {
 public:
  DWORD SetEntryProperties(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA rasEntry,
                           DWORD entrySize) override;
  DWORD Dial(LPCSTR phonebook, LPRASDIALPARAMSA params, DWORD notifierType, LPVOID notifier,
             LPHRASCONN conn) override;
  DWORD GetProjectionInfo(HRASCONN conn, RASPROJECTION projection, LPVOID info,
                          LPDWORD size) override;
  DWORD HangUp(HRASCONN conn) override;
  DWORD GetConnectStatus(HRASCONN conn, LPRASCONNSTATUSA status) override;
  DWORD EnumConnections(LPRASCONNA conns, LPDWORD bytes, LPDWORD count) override;
  DWORD GetErrorString(UINT code, LPSTR text, DWORD size) override;

  // Calls the progress callback of the last dial, as the service's own thread would.
  DWORD Notify(RASCONNSTATE state, DWORD error);

  std::mutex lock;
  // Script.
  DWORD setEntryResult = 0;
  std::deque<DWORD> dialResults;        // popped per dial; 0 once empty
  bool handleOnFailure = false;         // a failed dial still hands out its handle
  HRASCONN dialHandle = reinterpret_cast<HRASCONN>(0x1234);
  int projectionFailures = 0;           // the next N queries fail with projectionError
  DWORD projectionError = ERROR_PROTOCOL_NOT_CONFIGURED;
  std::string clientIp = "10.8.0.2";
  int statusQueriesUntilGone = 0;       // status queries answered "still there" first
  bool lineDropped = false;             // status queries answer RASCS_Disconnected, 629
  std::vector<FakeConnection> connections;
  int enumTooSmall = 0;                 // the next N enumerations answer 603
  DWORD enumError = 0;
  // Record.
  std::vector<std::string> phonebooks;
  std::vector<RASENTRYA> entries;
  std::vector<RASDIALPARAMSA> dialParams;
  std::vector<HRASCONN> hangUps;
  std::vector<DWORD> enumEntrySizes;
  int statusQueries = 0;
  int projectionQueries = 0;
  RASDIALFUNC2 callback = nullptr;
  HRASCONN callbackConn = nullptr;
};

class FakeRunner : public ICommandRunner {
 public:
  UINT Run(const char* commandLine, UINT showCommand) override;
  UINT RunProgram(const char* program, const char* commandLine, const char* directory,
                  UINT showCommand) override;
  // The process handed back is an event: set at once, or, while holdProcesses is true,
  // when EndProcesses() is called.
  HANDLE StartProgram(const char* program, const char* commandLine, UINT showCommand) override;
  void EndProcesses();
  ~FakeRunner() override;
  std::vector<std::string> Commands();
  std::vector<std::string> Programs();

  std::mutex lock;
  std::vector<std::string> commands;
  std::vector<std::string> programs;  // "" for a command started by its bare line
  std::vector<UINT> shows;
  UINT result = 33;
  bool holdProcesses = false;
  std::vector<HANDLE> processes;  // the fake's own copies
};
