// The functions of the simulated dial-up service under the names of the system's library.
// Built into rasapi32.dll (exported through rasapi32.def) and linked into the stand-in
// rasdial.exe, so both work on the same phonebooks and the same shared connection table.
#include <windows.h>
#include <ras.h>
#include <raserror.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "common/text_format.h"
#include "tools/dialup/auth_check.h"
#include "tools/dialup/dial_session.h"
#include "tools/dialup/phonebook.h"
#include "tools/dialup/phonebook_text.h"
#include "tools/dialup/ras_sizes.h"
#include "tools/dialup/shared_state.h"

using dialup::ConnRecord;
using dialup::CSharedState;

namespace {

const DWORD kDefaultHangupMs = 300;
const DWORD kMaxHangupMs = 60000;

std::string Cut(const char* field, size_t cap) {
  size_t n = 0;
  while (n < cap && field[n]) ++n;
  return std::string(field, n);
}

// Handle values are the table's ids; anything wider than an id is no handle of ours.
uint32_t IdOf(HRASCONN h) {
  ULONG_PTR v = reinterpret_cast<ULONG_PTR>(h);
  return v > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v);
}

bool Listed(const ConnRecord& r) {
  return r.id != 0 && (r.status == dialup::kConnDialing || r.status == dialup::kConnConnected);
}

struct ErrorText {
  DWORD code;
  const char* text;
};
const ErrorText kErrorTexts[] = {
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory is available to complete this operation."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported by the simulated service."},
    {ERROR_INVALID_NAME, "The entry name is invalid."},
    {ERROR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {ERROR_BUFFER_INVALID, "The buffer is invalid."},
    {ERROR_PORT_DISCONNECTED, "The port was disconnected."},
    {ERROR_CANNOT_OPEN_PHONEBOOK, "The system could not open the phone book file."},
    {ERROR_CANNOT_LOAD_PHONEBOOK, "The system could not load the phone book file."},
    {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY,
     "The system could not find the phone book entry for this connection."},
    {ERROR_CANNOT_WRITE_PHONEBOOK, "The system could not update the phone book file."},
    {ERROR_USER_DISCONNECTION, "The port was disconnected by the user."},
    {ERROR_REMOTE_DISCONNECTION, "The connection was closed by the remote computer."},
    {ERROR_INVALID_SIZE, "The structure size is incorrect."},
    {ERROR_PORT_NOT_AVAILABLE, "The connecting device is already in use."},
    {ERROR_NO_ANSWER, "There was no answer."},
    {ERROR_AUTHENTICATION_FAILURE,
     "Access was denied because the username and/or password was invalid on the domain."},
    {ERROR_RASMAN_CANNOT_INITIALIZE, "The Remote Access Service Manager could not start."},
    {ERROR_PROJECTION_NOT_COMPLETE, "The network protocols of the connection are not ready."},
    {ERROR_PROTOCOL_NOT_CONFIGURED, "The protocol is not configured."},
    {ERROR_DIAL_ALREADY_IN_PROGRESS, "This connection is already being dialed."},
    {800, "The remote connection was not made because the attempted VPN tunnels failed."},
    {868,
     "The remote connection was not made because the name of the remote access server did "
     "not resolve."},
};

}  // namespace

extern "C" {

DWORD WINAPI RasGetErrorStringA(UINT code, LPSTR buffer, DWORD size) {
  if (!buffer) return ERROR_INVALID_PARAMETER;
  if (size == 0) return ERROR_INSUFFICIENT_BUFFER;
  char generic[64];
  const char* text = nullptr;
  for (const ErrorText& e : kErrorTexts) {
    if (e.code == code) text = e.text;
  }
  if (!text) {
    FormatCut(generic, sizeof generic, "Remote Access error %u.", code);
    text = generic;
  }
  size_t len = std::strlen(text);
  CopyCut(buffer, size, text);
  return len < size ? 0 : ERROR_INSUFFICIENT_BUFFER;
}

DWORD WINAPI RasValidateEntryNameA(LPCSTR phonebook, LPCSTR entry) {
  if (!entry || !PbkNameValid(entry)) return ERROR_INVALID_NAME;
  RASENTRYA e;
  e.dwSize = sizeof e;
  DWORD err = dialup::LoadEntry(dialup::PhonebookPath(phonebook), entry, &e);
  if (err == 0) return ERROR_ALREADY_EXISTS;
  return err == ERROR_CANNOT_FIND_PHONEBOOK_ENTRY ? 0 : err;
}

DWORD WINAPI RasSetEntryPropertiesA(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA info,
                                    DWORD infoSize, LPBYTE deviceInfo, DWORD deviceInfoSize) {
  if (!entry || !PbkNameValid(entry)) return ERROR_INVALID_NAME;
  if (!info) return ERROR_INVALID_PARAMETER;
  if (!dialup::EntrySizeOk(info->dwSize)) return ERROR_INVALID_SIZE;
  if (infoSize < info->dwSize) return ERROR_BUFFER_INVALID;
  return dialup::StoreEntry(dialup::PhonebookPath(phonebook), entry, *info);
}

DWORD WINAPI RasGetEntryPropertiesA(LPCSTR phonebook, LPCSTR entry, LPRASENTRYA info,
                                    LPDWORD infoSize, LPBYTE deviceInfo,
                                    LPDWORD deviceInfoSize) {
  if (!infoSize) return ERROR_INVALID_PARAMETER;
  if (info && *infoSize >= sizeof(DWORD) && !dialup::EntrySizeOk(info->dwSize)) {
    return ERROR_INVALID_SIZE;
  }
  if (!info || *infoSize < sizeof(RASENTRYA)) {
    *infoSize = sizeof(RASENTRYA);
    return ERROR_BUFFER_TOO_SMALL;
  }
  if (deviceInfoSize) *deviceInfoSize = 0;
  if (!entry || !*entry) {
    dialup::DefaultEntry(info);
    return 0;
  }
  DWORD err = dialup::LoadEntry(dialup::PhonebookPath(phonebook), entry, info);
  if (err == 0) *infoSize = sizeof(RASENTRYA);
  return err;
}

DWORD WINAPI RasDeleteEntryA(LPCSTR phonebook, LPCSTR entry) {
  if (!entry || !PbkNameValid(entry)) return ERROR_INVALID_NAME;
  return dialup::DeleteEntry(dialup::PhonebookPath(phonebook), entry);
}

DWORD WINAPI RasEnumEntriesA(LPCSTR reserved, LPCSTR phonebook, LPRASENTRYNAMEA names,
                             LPDWORD size, LPDWORD count) {
  if (reserved || !size || !count) return ERROR_INVALID_PARAMETER;
  DWORD stride = sizeof(RASENTRYNAMEA);
  if (names && *size >= sizeof(DWORD)) {
    if (!dialup::EntryNameSizeOk(names->dwSize)) return ERROR_INVALID_SIZE;
    stride = names->dwSize;
  }
  std::string path = dialup::PhonebookPath(phonebook);
  std::vector<std::string> list;
  DWORD err = dialup::ListEntries(path, &list);
  if (err) return err;
  DWORD needed = static_cast<DWORD>(list.size()) * stride;
  *count = static_cast<DWORD>(list.size());
  if (needed > 0 && (!names || *size < needed)) {
    *size = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  BYTE* out = reinterpret_cast<BYTE*>(names);
  for (const std::string& name : list) {
    std::memset(out, 0, stride);
    auto* item = reinterpret_cast<RASENTRYNAMEA*>(out);
    item->dwSize = stride;
    CopyCut(item->szEntryName, sizeof item->szEntryName, name.c_str());
    if (stride == sizeof(RASENTRYNAMEA)) {
      item->dwFlags = REN_User;
      CopyCut(item->szPhonebookPath, sizeof item->szPhonebookPath, path.c_str());
    }
    out += stride;
  }
  *size = needed;
  return 0;
}

DWORD WINAPI RasDialA(LPRASDIALEXTENSIONS extensions, LPCSTR phonebook, LPRASDIALPARAMSA params,
                      DWORD notifierType, LPVOID notifier, LPHRASCONN handle) {
  if (!params || !handle) return ERROR_INVALID_PARAMETER;
  if (extensions && extensions->dwSize != sizeof(RASDIALEXTENSIONS) &&
      extensions->dwSize != offsetof(RASDIALEXTENSIONS, RasEapInfo)) {
    return ERROR_INVALID_SIZE;
  }
  if (!dialup::DialParamsSizeOk(params->dwSize)) return ERROR_INVALID_SIZE;
  if (notifier && notifierType > 2 && notifierType != 0xFFFFFFFF) return ERROR_INVALID_PARAMETER;

  dialup::DialRequest req;
  req.phonebook = phonebook ? phonebook : "";
  req.entry = Cut(params->szEntryName, sizeof params->szEntryName);
  req.phone = Cut(params->szPhoneNumber, sizeof params->szPhoneNumber);
  req.user = Cut(params->szUserName, sizeof params->szUserName);
  req.password = Cut(params->szPassword, sizeof params->szPassword);
  if (params->dwSize >= sizeof(RASDIALPARAMSA)) {
    req.callbackId = params->dwCallbackId;
    req.subEntry = params->dwSubEntry;
  }
  req.notifierType = notifierType;
  req.notifier = notifier;
  if (req.entry.empty()) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  return dialup::Dial(req, handle);
}

DWORD WINAPI RasHangUpA(HRASCONN handle) {
  char tunnelClient[16] = "";
  {
    CSharedState st;
    if (!st.Locked()) return ERROR_RASMAN_CANNOT_INITIALIZE;
    ConnRecord* r = st.Find(IdOf(handle));
    if (!r) return ERROR_INVALID_HANDLE;
    if (r->status == dialup::kConnHangingUp) return 0;
    if (r->flags & dialup::kConnTunnelUp) {
      CopyCut(tunnelClient, sizeof tunnelClient, r->ip);
      r->flags &= ~dialup::kConnTunnelUp;
    }
    // The real service takes a moment to close the port; callers poll the status until the
    // handle is invalid.
    DWORD delay = dialup::EnvNumber("ACCEL_DIALUP_HANGUP_MS", kDefaultHangupMs);
    if (delay > kMaxHangupMs) delay = kMaxHangupMs;
    if (delay == 0) {
      std::memset(r, 0, sizeof *r);
    } else {
      r->status = dialup::kConnHangingUp;
      r->hangupDeadline = dialup::NowFileTime() + static_cast<uint64_t>(delay) * 10000;
    }
    st.Save();
  }
  // Outside the table's lock: the stand-in may take a moment, and other processes keep
  // reading the table meanwhile. Once this returns, the interface and its routes are gone.
  if (tunnelClient[0]) dialup::TunnelDown(tunnelClient);
  return 0;
}

DWORD WINAPI RasGetConnectStatusA(HRASCONN handle, LPRASCONNSTATUSA status) {
  if (!status) return ERROR_INVALID_PARAMETER;
  if (!dialup::ConnStatusSizeOk(status->dwSize)) return ERROR_INVALID_SIZE;
  CSharedState st;
  if (!st.Locked()) return ERROR_RASMAN_CANNOT_INITIALIZE;
  const ConnRecord* r = st.Find(IdOf(handle));
  if (!r) return ERROR_INVALID_HANDLE;
  DWORD size = status->dwSize;
  std::memset(status, 0, size);
  status->dwSize = size;
  if (r->status == dialup::kConnHangingUp) {
    status->rasconnstate = RASCS_Disconnected;
  } else {
    status->rasconnstate = static_cast<RASCONNSTATE>(r->rasState);
    status->dwError = r->status == dialup::kConnFailed ? r->error : 0;
  }
  CopyCut(status->szDeviceType, sizeof status->szDeviceType, r->deviceType);
  CopyCut(status->szDeviceName, sizeof status->szDeviceName, r->deviceName);
  CopyCut(status->szPhoneNumber, sizeof status->szPhoneNumber, r->phone);
  return 0;
}

DWORD WINAPI RasGetProjectionInfoA(HRASCONN handle, RASPROJECTION projection, LPVOID buffer,
                                   LPDWORD size) {
  if (!size) return ERROR_INVALID_PARAMETER;
  char ip[16];
  char serverIp[16];
  {
    CSharedState st;
    if (!st.Locked()) return ERROR_RASMAN_CANNOT_INITIALIZE;
    const ConnRecord* r = st.Find(IdOf(handle));
    if (!r || r->status == dialup::kConnHangingUp) return ERROR_INVALID_HANDLE;
    if (projection != RASP_PppIp) return ERROR_PROTOCOL_NOT_CONFIGURED;
    if (r->status != dialup::kConnConnected) return ERROR_PROJECTION_NOT_COMPLETE;
    CopyCut(ip, sizeof ip, r->ip);
    CopyCut(serverIp, sizeof serverIp, r->serverIp);
  }
  auto* out = static_cast<RASPPPIPA*>(buffer);
  if (!out || *size < sizeof(DWORD)) {
    *size = sizeof(RASPPPIPA);
    return ERROR_BUFFER_TOO_SMALL;
  }
  if (!dialup::PppIpSizeOk(out->dwSize)) return ERROR_INVALID_SIZE;
  if (*size < out->dwSize) {
    *size = out->dwSize;
    return ERROR_BUFFER_TOO_SMALL;
  }
  DWORD structSize = out->dwSize;
  std::memset(out, 0, structSize);
  out->dwSize = structSize;
  CopyCut(out->szIpAddress, sizeof out->szIpAddress, ip);
  if (structSize == sizeof(RASPPPIPA)) {
    CopyCut(out->szServerIpAddress, sizeof out->szServerIpAddress, serverIp);
  }
  *size = structSize;
  return 0;
}

DWORD WINAPI RasEnumConnectionsA(LPRASCONNA conns, LPDWORD size, LPDWORD count) {
  if (!size || !count) return ERROR_INVALID_PARAMETER;
  // Without a buffer to read the caller's layout from, sizes are given for the largest one.
  DWORD stride = sizeof(dialup::RasConn601A);
  if (conns && *size >= sizeof(DWORD)) {
    if (!dialup::ConnSizeOk(conns->dwSize)) return ERROR_INVALID_SIZE;
    stride = conns->dwSize;
  }
  std::vector<ConnRecord> listed;
  {
    CSharedState st;
    if (!st.Locked()) return ERROR_RASMAN_CANNOT_INITIALIZE;
    for (const ConnRecord& r : st.Table().rec) {
      if (Listed(r)) listed.push_back(r);
    }
  }
  DWORD needed = static_cast<DWORD>(listed.size()) * stride;
  *count = static_cast<DWORD>(listed.size());
  if (needed > 0 && (!conns || *size < needed)) {
    *size = needed;
    return ERROR_BUFFER_TOO_SMALL;
  }
  BYTE* out = reinterpret_cast<BYTE*>(conns);
  for (const ConnRecord& r : listed) {
    std::memset(out, 0, stride);
    auto* c = reinterpret_cast<RASCONNA*>(out);
    c->dwSize = stride;
    c->hrasconn = reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(r.id));
    CopyCut(c->szEntryName, sizeof c->szEntryName, r.entry);
    CopyCut(c->szDeviceType, sizeof c->szDeviceType, r.deviceType);
    CopyCut(c->szDeviceName, sizeof c->szDeviceName, r.deviceName);
    CopyCut(c->szPhonebook, sizeof c->szPhonebook, r.phonebook);
    c->dwSubEntry = 1;
    c->luid.LowPart = r.id;
    out += stride;
  }
  *size = needed;
  return 0;
}

// The wide-character functions: the system under test speaks ANSI only.
DWORD WINAPI RasHangUpW(HRASCONN handle) { return RasHangUpA(handle); }
DWORD WINAPI RasDialW(LPRASDIALEXTENSIONS, LPCWSTR, LPRASDIALPARAMSW, DWORD, LPVOID,
                      LPHRASCONN) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasEnumConnectionsW(LPRASCONNW, LPDWORD, LPDWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasEnumEntriesW(LPCWSTR, LPCWSTR, LPRASENTRYNAMEW, LPDWORD, LPDWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasGetConnectStatusW(HRASCONN, LPRASCONNSTATUSW) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasGetErrorStringW(UINT, LPWSTR, DWORD) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD WINAPI RasGetProjectionInfoW(HRASCONN, RASPROJECTION, LPVOID, LPDWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasSetEntryPropertiesW(LPCWSTR, LPCWSTR, LPRASENTRYW, DWORD, LPBYTE, DWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasGetEntryPropertiesW(LPCWSTR, LPCWSTR, LPRASENTRYW, LPDWORD, LPBYTE, LPDWORD) {
  return ERROR_CALL_NOT_IMPLEMENTED;
}
DWORD WINAPI RasDeleteEntryW(LPCWSTR, LPCWSTR) { return ERROR_CALL_NOT_IMPLEMENTED; }
DWORD WINAPI RasValidateEntryNameW(LPCWSTR, LPCWSTR) { return ERROR_CALL_NOT_IMPLEMENTED; }

}  // extern "C"
