#include "tunnel/fake_ras.h"

#include <cstdio>
#include <cstring>

DWORD FakeRas::SetEntryProperties(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA rasEntry,
                                  DWORD entrySize) {
  std::lock_guard<std::mutex> g(lock);
  if (entrySize != sizeof(RASENTRYA) || rasEntry->dwSize != sizeof(RASENTRYA))
    return ERROR_INVALID_SIZE;
  if (std::strcmp(entry, "VelaVPN") != 0) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  phonebooks.push_back(phonebook);
  entries.push_back(*rasEntry);
  return setEntryResult;
}

DWORD FakeRas::Dial(LPCSTR phonebook, LPRASDIALPARAMSA params, DWORD notifierType,
                    LPVOID notifier, LPHRASCONN conn) {
  std::lock_guard<std::mutex> g(lock);
  if (params->dwSize != sizeof(RASDIALPARAMSA) || notifierType != 2) return ERROR_INVALID_SIZE;
  if (phonebooks.empty() || phonebooks.back() != phonebook) return ERROR_CANNOT_OPEN_PHONEBOOK;
  dialParams.push_back(*params);
  DWORD result = 0;
  if (!dialResults.empty()) {
    result = dialResults.front();
    dialResults.pop_front();
  }
  if (result != 0 && handleOnFailure) *conn = dialHandle;
  if (result == 0) {
    *conn = dialHandle;
    callback = reinterpret_cast<RASDIALFUNC2>(notifier);
    callbackConn = dialHandle;
  }
  return result;
}

DWORD FakeRas::Notify(RASCONNSTATE state, DWORD error) {
  RASDIALFUNC2 cb;
  HRASCONN conn;
  {
    std::lock_guard<std::mutex> g(lock);
    cb = callback;
    conn = callbackConn;
  }
  return cb ? cb(0, 0, conn, 0xCCCD /* WM_RASDIALEVENT */, state, error, 0) : 0;
}

DWORD FakeRas::GetProjectionInfo(HRASCONN, RASPROJECTION projection, LPVOID info, LPDWORD size) {
  std::lock_guard<std::mutex> g(lock);
  ++projectionQueries;
  RASPPPIPA* ip = static_cast<RASPPPIPA*>(info);
  if (projection != RASP_PppIp || *size != sizeof(RASPPPIPA) || ip->dwSize != sizeof(RASPPPIPA))
    return ERROR_INVALID_SIZE;
  if (projectionFailures > 0) {
    --projectionFailures;
    return projectionError;
  }
  std::snprintf(ip->szIpAddress, sizeof ip->szIpAddress, "%s", clientIp.c_str());
  std::snprintf(ip->szServerIpAddress, sizeof ip->szServerIpAddress, "10.8.0.1");
  return 0;
}

DWORD FakeRas::HangUp(HRASCONN conn) {
  std::lock_guard<std::mutex> g(lock);
  hangUps.push_back(conn);
  callback = nullptr;
  return 0;
}

DWORD FakeRas::GetConnectStatus(HRASCONN, LPRASCONNSTATUSA status) {
  std::lock_guard<std::mutex> g(lock);
  ++statusQueries;
  if (status->dwSize != sizeof(RASCONNSTATUSA)) return ERROR_INVALID_SIZE;
  if (lineDropped) {
    status->rasconnstate = RASCS_Disconnected;
    status->dwError = ERROR_REMOTE_DISCONNECTION;
    return 0;
  }
  if (statusQueriesUntilGone > 0) {
    --statusQueriesUntilGone;
    status->rasconnstate = RASCS_Connected;
    return 0;
  }
  return ERROR_INVALID_HANDLE;
}

DWORD FakeRas::EnumConnections(LPRASCONNA conns, LPDWORD bytes, LPDWORD count) {
  std::lock_guard<std::mutex> g(lock);
  if (enumError) return enumError;
  // Both layouts begin with size, handle and entry name; only the stride differs.
  DWORD entrySize = conns->dwSize;
  enumEntrySizes.push_back(entrySize);
  if (entrySize != sizeof(RasConnW7A) && entrySize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;
  DWORD needed = static_cast<DWORD>(connections.size() * entrySize);
  if (enumTooSmall > 0 || *bytes < needed) {
    if (enumTooSmall > 0) --enumTooSmall;
    *bytes = needed > *bytes ? needed : *bytes + entrySize;
    *count = 0;
    return ERROR_BUFFER_TOO_SMALL;
  }
  char* base = reinterpret_cast<char*>(conns);
  for (size_t i = 0; i < connections.size(); ++i) {
    RASCONNA* entry = reinterpret_cast<RASCONNA*>(base + i * entrySize);
    std::memset(entry, 0, entrySize);
    entry->dwSize = entrySize;
    entry->hrasconn = connections[i].handle;
    std::snprintf(entry->szEntryName, sizeof entry->szEntryName, "%s",
                  connections[i].entryName.c_str());
  }
  *bytes = needed;
  *count = static_cast<DWORD>(connections.size());
  return 0;
}

DWORD FakeRas::GetErrorString(UINT code, LPSTR text, DWORD size) {
  std::snprintf(text, size, "fake error %u", code);
  return 0;
}

UINT FakeRunner::Run(const char* commandLine, UINT showCommand) {
  std::lock_guard<std::mutex> g(lock);
  commands.push_back(commandLine);
  programs.push_back("");
  shows.push_back(showCommand);
  return result;
}

UINT FakeRunner::RunProgram(const char* program, const char* commandLine, const char*,
                            UINT showCommand) {
  std::lock_guard<std::mutex> g(lock);
  commands.push_back(commandLine);
  programs.push_back(program ? program : "");
  shows.push_back(showCommand);
  return result;
}

HANDLE FakeRunner::StartProgram(const char* program, const char* commandLine, UINT showCommand) {
  if (RunProgram(program, commandLine, nullptr, showCommand) <= 31) return nullptr;
  std::lock_guard<std::mutex> g(lock);
  HANDLE ended = CreateEventA(nullptr, TRUE, holdProcesses ? FALSE : TRUE, nullptr);
  HANDLE caller = nullptr;
  DuplicateHandle(GetCurrentProcess(), ended, GetCurrentProcess(), &caller, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  processes.push_back(ended);
  return caller;
}

void FakeRunner::EndProcesses() {
  std::lock_guard<std::mutex> g(lock);
  for (HANDLE h : processes) SetEvent(h);
}

FakeRunner::~FakeRunner() {
  for (HANDLE h : processes) CloseHandle(h);
}

std::vector<std::string> FakeRunner::Programs() {
  std::lock_guard<std::mutex> g(lock);
  return programs;
}

std::vector<std::string> FakeRunner::Commands() {
  std::lock_guard<std::mutex> g(lock);
  return commands;
}
