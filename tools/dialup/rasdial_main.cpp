// The stand-in for the system's rasdial.exe, for runs of the Windows 7 tunnel build under
// Wine. It dials and hangs up through the simulated service linked into it, which keeps its
// connections in the shared table, so a connection made here stays up after this program
// ends and other processes see it.
//
//   rasdial                                  lists the connections
//   rasdial ENTRY [USER [PASSWORD]] [/PHONE:HOST] [/PHONEBOOK:FILE] [/DOMAIN:D]
//   rasdial [ENTRY] /DISCONNECT              hangs up ENTRY (or every connection)
//
// Exit code 0 on success, else the dial-up error code (87 for a command-line error).
#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text_format.h"
#include "tools/dialup/command_line.h"
#include "tools/dialup/phonebook_text.h"

namespace {

const DWORD kDialTimeoutMs = 120000;
const DWORD kHangupWaitMs = 10000;
const DWORD kDialPollMs = 200;

struct DialWatch {
  HANDLE done;
  DWORD error;
} g_watch;

void Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void PrintUsage() {
  Print(
      "USAGE:\n"
      "        rasdial entryname [username [password]] [/DOMAIN:domain]\n"
      "                [/PHONE:phonenumber] [/PHONEBOOK:phonebookfile]\n"
      "        rasdial [entryname] /DISCONNECT\n"
      "\n"
      "Command completed successfully.\n");
}

void PrintError(DWORD code) {
  char text[512];
  RasGetErrorStringA(code, text, sizeof text);
  Print(Format("\nRemote Access error %lu - %s\n\nFor more help on this error:\n"
               "        Type 'hh netcfg.chm'\n"
               "        In help, click Troubleshooting, then Error Messages, then %lu\n",
               static_cast<unsigned long>(code), text, static_cast<unsigned long>(code)));
}

VOID WINAPI OnDialEvent(HRASCONN, UINT, RASCONNSTATE state, DWORD error, DWORD) {
  if (error) {
    g_watch.error = error;
    SetEvent(g_watch.done);
    return;
  }
  switch (state) {
    case RASCS_Authenticate:
      Print("Verifying username and password...\n");
      break;
    case RASCS_AuthProject:
      Print("Registering your computer on the network...\n");
      break;
    case RASCS_Connected:
      SetEvent(g_watch.done);
      break;
    default:
      break;
  }
}

std::vector<RASCONNA> Connections(DWORD* error) {
  std::vector<RASCONNA> conns(4);
  for (int attempt = 0; attempt < 5; ++attempt) {
    conns[0].dwSize = sizeof(RASCONNA);
    DWORD size = static_cast<DWORD>(conns.size() * sizeof(RASCONNA));
    DWORD count = 0;
    *error = RasEnumConnectionsA(conns.data(), &size, &count);
    if (*error == ERROR_BUFFER_TOO_SMALL) {
      conns.resize(size / sizeof(RASCONNA) + 1);
      continue;
    }
    conns.resize(*error ? 0 : count);
    return conns;
  }
  return std::vector<RASCONNA>();
}

int List() {
  DWORD err = 0;
  std::vector<RASCONNA> conns = Connections(&err);
  if (err) {
    PrintError(err);
    return static_cast<int>(err);
  }
  if (conns.empty()) {
    Print("No connections\nCommand completed successfully.\n");
    return 0;
  }
  Print("Connected to\n");
  for (const RASCONNA& c : conns) Print(Format("%s\n", c.szEntryName));
  Print("Command completed successfully.\n");
  return 0;
}

// Hangs up and waits, as the system's command does, until the connection is gone.
void HangUpAndWait(HRASCONN h) {
  RasHangUpA(h);
  for (DWORD waited = 0; waited < kHangupWaitMs; waited += 50) {
    RASCONNSTATUSA status;
    status.dwSize = sizeof status;
    if (RasGetConnectStatusA(h, &status) == ERROR_INVALID_HANDLE) return;
    Sleep(50);
  }
}

int Disconnect(const std::string* entry) {
  DWORD err = 0;
  std::vector<RASCONNA> conns = Connections(&err);
  if (err) {
    PrintError(err);
    return static_cast<int>(err);
  }
  int hungUp = 0;
  for (const RASCONNA& c : conns) {
    if (entry && !PbkNameEquals(c.szEntryName, *entry)) continue;
    HangUpAndWait(c.hrasconn);
    ++hungUp;
  }
  if (hungUp == 0) {
    if (entry) {
      Print(Format("You are not connected to %s.\n", entry->c_str()));
    } else {
      Print("No connections\n");
    }
    return ERROR_NO_CONNECTION;
  }
  Print("Command completed successfully.\n");
  return 0;
}

// Waits for the end of the dial. A dial hung up from elsewhere (rasdial ENTRY /DISCONNECT)
// hears no more notifications, so its handle is looked at between waits.
DWORD WaitDial(HRASCONN h) {
  for (DWORD waited = 0; waited < kDialTimeoutMs; waited += kDialPollMs) {
    if (WaitForSingleObject(g_watch.done, kDialPollMs) == WAIT_OBJECT_0) return g_watch.error;
    RASCONNSTATUSA status;
    status.dwSize = sizeof status;
    DWORD s = RasGetConnectStatusA(h, &status);
    if (s == ERROR_INVALID_HANDLE || (s == 0 && status.rasconnstate == RASCS_Disconnected)) {
      return ERROR_USER_DISCONNECTION;
    }
  }
  return ERROR_PPP_TIMEOUT;
}

int DialEntry(const std::string& entry, const std::string& user, const std::string& password,
              const std::string& domain, const std::string& phone, const std::string& phonebook) {
  DWORD err = 0;
  for (const RASCONNA& c : Connections(&err)) {
    if (PbkNameEquals(c.szEntryName, entry)) {
      Print(Format("You are already connected to %s.\nCommand completed successfully.\n",
                   entry.c_str()));
      return 0;
    }
  }

  RASDIALPARAMSA params;
  ZeroMemory(&params, sizeof params);
  params.dwSize = sizeof params;
  CopyCut(params.szEntryName, sizeof params.szEntryName, entry.c_str());
  CopyCut(params.szPhoneNumber, sizeof params.szPhoneNumber, phone.c_str());
  CopyCut(params.szUserName, sizeof params.szUserName, user.c_str());
  CopyCut(params.szPassword, sizeof params.szPassword, password.c_str());
  CopyCut(params.szDomain, sizeof params.szDomain, domain.c_str());

  g_watch.done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_watch.error = 0;
  if (!g_watch.done) return ERROR_NOT_ENOUGH_MEMORY;
  Print(Format("Connecting to %s...\n", entry.c_str()));
  HRASCONN h = nullptr;
  err = RasDialA(nullptr, phonebook.empty() ? nullptr : phonebook.c_str(), &params, 1,
                 reinterpret_cast<LPVOID>(&OnDialEvent), &h);
  SecureZeroMemory(params.szPassword, sizeof params.szPassword);
  if (err == 0) err = WaitDial(h);
  if (err) {
    if (h) HangUpAndWait(h);
    PrintError(err);
    return static_cast<int>(err);
  }
  Print(Format("Successfully connected to %s.\nCommand completed successfully.\n",
               entry.c_str()));
  return 0;
}

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}

}  // namespace

int main() {
  std::vector<std::string> args = SplitCommandLine(GetCommandLineA());
  std::vector<std::string> positional;
  std::string phone, phonebook, domain;
  bool disconnect = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty() || a[0] != '/') {
      positional.push_back(a);
      continue;
    }
    size_t colon = a.find(':');
    std::string name = Upper(a.substr(0, colon));
    std::string value = colon == std::string::npos ? std::string() : a.substr(colon + 1);
    if (name == "/DISCONNECT" || name == "/D") {
      disconnect = true;
    } else if (name == "/PHONE") {
      phone = value;
    } else if (name == "/PHONEBOOK") {
      phonebook = value;
    } else if (name == "/DOMAIN") {
      domain = value;
    } else if (name == "/CALLBACK" || name == "/PREFIXSUFFIX") {
      // accepted and ignored: the simulated service has no modems
    } else {
      PrintUsage();
      return ERROR_INVALID_PARAMETER;
    }
  }

  if (disconnect) {
    if (positional.size() > 1) {
      PrintUsage();
      return ERROR_INVALID_PARAMETER;
    }
    return Disconnect(positional.empty() ? nullptr : &positional[0]);
  }
  if (positional.empty()) return List();
  if (positional.size() > 3) {
    PrintUsage();
    return ERROR_INVALID_PARAMETER;
  }
  std::string user = positional.size() > 1 ? positional[1] : std::string();
  std::string password = positional.size() > 2 ? positional[2] : std::string();
  if (password == "*") {
    Print("This stand-in cannot prompt for a password; give it on the command line.\n");
    return ERROR_INVALID_PARAMETER;
  }
  return DialEntry(positional[0], user, password, domain, phone, phonebook);
}
