#include "tools/dialup/phonebook.h"

#include <raserror.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text_format.h"
#include "tools/dialup/phonebook_text.h"

namespace dialup {
namespace {

// File values of the encryption setting ("DataEncryption") for the ET_ constants.
const DWORD kEncryptionValues[] = {0, 256, 512, 8};  // None, Require, RequireMax, Optional

// Option flags that the file keeps as keys of their own, with the key's value for "set".
struct FlagKey {
  DWORD flag;
  const char* key;
  bool inverted;  // the key says the opposite of the flag
};
const FlagKey kFlagKeys[] = {
    {RASEO_RemoteDefaultGateway, "IpPrioritizeRemote", false},
    {RASEO_IpHeaderCompression, "IpHeaderCompression", false},
    {RASEO_SwCompression, "SwCompression", false},
    {RASEO_DisableLcpExtensions, "LcpExtensions", true},
    {RASEO_UseCountryAndAreaCodes, "UseDialingRules", false},
    {RASEO_ModemLights, "ShowMonitorIconInTaskBar", false},
    {RASEO_PreviewUserPw, "PreviewUserPw", false},
    {RASEO_PreviewDomain, "PreviewDomain", false},
    {RASEO_PreviewPhoneNumber, "PreviewPhoneNumber", false},
    {RASEO_ShowDialingProgress, "ShowDialingProgress", false},
    {RASEO_UseLogonCredentials, "AutoLogon", false},
};

std::string Cut(const char* field, size_t cap) {
  size_t n = 0;
  while (n < cap && field[n]) ++n;
  return std::string(field, n);
}

std::string Num(DWORD v) { return Format("%lu", static_cast<unsigned long>(v)); }

std::string Addr(const RASIPADDR& a) { return Format("%u.%u.%u.%u", a.a, a.b, a.c, a.d); }

DWORD ParseNum(const std::string* s, DWORD fallback) {
  if (!s || s->empty()) return fallback;
  char* end = nullptr;
  unsigned long v = std::strtoul(s->c_str(), &end, 10);
  return *end == '\0' ? static_cast<DWORD>(v) : fallback;
}

RASIPADDR ParseAddr(const std::string* s) {
  RASIPADDR a = {0, 0, 0, 0};
  unsigned v[4];
  char tail;
  if (s && std::sscanf(s->c_str(), "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) == 4 &&
      v[0] < 256 && v[1] < 256 && v[2] < 256 && v[3] < 256) {
    a.a = static_cast<BYTE>(v[0]);
    a.b = static_cast<BYTE>(v[1]);
    a.c = static_cast<BYTE>(v[2]);
    a.d = static_cast<BYTE>(v[3]);
  }
  return a;
}

void SetText(char* field, size_t cap, const std::string* value) {
  CopyCut(field, cap, value ? value->c_str() : "");
}

PbkSection EntryToSection(const std::string& name, const RASENTRYA& e) {
  PbkSection s;
  s.name = name;
  auto add = [&s](const char* k, const std::string& v) { s.keys.emplace_back(k, v); };
  add("Type", Num(e.dwType));
  add("BaseProtocol", Num(e.dwFramingProtocol));
  add("VpnStrategy", Num(e.dwVpnStrategy));
  add("ExcludedProtocols", Num(~e.dwfNetProtocols & (RASNP_NetBEUI | RASNP_Ipx | RASNP_Ip)));
  add("DataEncryption", Num(e.dwEncryptionType < 4 ? kEncryptionValues[e.dwEncryptionType] : 0));
  add("CustomAuthKey", Num(e.dwCustomAuthKey));
  add("RedialAttempts", Num(e.dwRedialCount));
  add("RedialSeconds", Num(e.dwRedialPause));
  add("IdleDisconnectSeconds", Num(e.dwIdleDisconnectSeconds));
  for (const FlagKey& f : kFlagKeys) {
    bool set = (e.dwfOptions & f.flag) != 0;
    add(f.key, (set != f.inverted) ? "1" : "0");
  }
  add("IpAssign", (e.dwfOptions & RASEO_SpecificIpAddr) ? "2" : "1");
  add("IpAddress", Addr(e.ipaddr));
  add("IpNameAssign", (e.dwfOptions & RASEO_SpecificNameServers) ? "2" : "1");
  add("IpDnsAddress", Addr(e.ipaddrDns));
  add("IpDns2Address", Addr(e.ipaddrDnsAlt));
  add("IpWinsAddress", Addr(e.ipaddrWins));
  add("IpWins2Address", Addr(e.ipaddrWinsAlt));
  add("IpDnsSuffix", Cut(e.szDnsSuffix, sizeof e.szDnsSuffix));
  add("TcpWindowSize", Num(e.dwTcpWindowSize));
  add("", "");
  add("MEDIA", "rastapi");
  add("Port", Cut(e.szDeviceName, sizeof e.szDeviceName));
  add("Device", Cut(e.szDeviceName, sizeof e.szDeviceName));
  add("", "");
  add("DEVICE", Cut(e.szDeviceType, sizeof e.szDeviceType));
  add("PhoneNumber", Cut(e.szLocalPhoneNumber, sizeof e.szLocalPhoneNumber));
  add("AreaCode", Cut(e.szAreaCode, sizeof e.szAreaCode));
  add("CountryCode", Num(e.dwCountryCode));
  add("CountryID", Num(e.dwCountryID));
  return s;
}

void SectionToEntry(const PbkSection& s, RASENTRYA* e) {
  DWORD size = e->dwSize;
  DefaultEntry(e);
  e->dwSize = size;
  e->dwType = ParseNum(s.Find("Type"), e->dwType);
  e->dwFramingProtocol = ParseNum(s.Find("BaseProtocol"), e->dwFramingProtocol);
  e->dwVpnStrategy = ParseNum(s.Find("VpnStrategy"), e->dwVpnStrategy);
  DWORD all = RASNP_NetBEUI | RASNP_Ipx | RASNP_Ip;
  e->dwfNetProtocols = ~ParseNum(s.Find("ExcludedProtocols"), 0) & all;
  DWORD enc = ParseNum(s.Find("DataEncryption"), 0);
  e->dwEncryptionType = ET_None;
  for (DWORD i = 0; i < 4; ++i) {
    if (kEncryptionValues[i] == enc) e->dwEncryptionType = i;
  }
  e->dwCustomAuthKey = ParseNum(s.Find("CustomAuthKey"), 0);
  e->dwRedialCount = ParseNum(s.Find("RedialAttempts"), e->dwRedialCount);
  e->dwRedialPause = ParseNum(s.Find("RedialSeconds"), e->dwRedialPause);
  e->dwIdleDisconnectSeconds = ParseNum(s.Find("IdleDisconnectSeconds"), 0);
  e->dwfOptions = 0;
  for (const FlagKey& f : kFlagKeys) {
    const std::string* v = s.Find(f.key);
    bool keySet = v ? ParseNum(v, 0) != 0 : f.inverted;  // an absent key means "not set"
    if (keySet != f.inverted) e->dwfOptions |= f.flag;
  }
  if (ParseNum(s.Find("IpAssign"), 1) == 2) e->dwfOptions |= RASEO_SpecificIpAddr;
  if (ParseNum(s.Find("IpNameAssign"), 1) == 2) e->dwfOptions |= RASEO_SpecificNameServers;
  e->ipaddr = ParseAddr(s.Find("IpAddress"));
  e->ipaddrDns = ParseAddr(s.Find("IpDnsAddress"));
  e->ipaddrDnsAlt = ParseAddr(s.Find("IpDns2Address"));
  e->ipaddrWins = ParseAddr(s.Find("IpWinsAddress"));
  e->ipaddrWinsAlt = ParseAddr(s.Find("IpWins2Address"));
  SetText(e->szDnsSuffix, sizeof e->szDnsSuffix, s.Find("IpDnsSuffix"));
  e->dwTcpWindowSize = ParseNum(s.Find("TcpWindowSize"), 0);
  SetText(e->szDeviceName, sizeof e->szDeviceName, s.Find("Device"));
  SetText(e->szDeviceType, sizeof e->szDeviceType, s.Find("DEVICE"));
  SetText(e->szLocalPhoneNumber, sizeof e->szLocalPhoneNumber, s.Find("PhoneNumber"));
  SetText(e->szAreaCode, sizeof e->szAreaCode, s.Find("AreaCode"));
  e->dwCountryCode = ParseNum(s.Find("CountryCode"), 0);
  e->dwCountryID = ParseNum(s.Find("CountryID"), 0);
}

// 0 with the text; ERROR_FILE_NOT_FOUND when there is no file; ERROR_CANNOT_LOAD_PHONEBOOK
// when it cannot be read or is far too big for a phonebook.
DWORD ReadFileText(const std::string& path, std::string* text) {
  text->clear();
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND
               ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND)
               : static_cast<DWORD>(ERROR_CANNOT_LOAD_PHONEBOOK);
  }
  DWORD high = 0;
  DWORD size = GetFileSize(f, &high);
  DWORD result = 0;
  if (size == INVALID_FILE_SIZE || high != 0 || size > kPbkMaxFileBytes) {
    result = ERROR_CANNOT_LOAD_PHONEBOOK;
  } else {
    text->resize(size);
    DWORD got = 0;
    if (size && (!ReadFile(f, &(*text)[0], size, &got, nullptr) || got != size)) {
      result = ERROR_CANNOT_LOAD_PHONEBOOK;
    }
  }
  CloseHandle(f);
  return result;
}

DWORD WriteFileText(const std::string& path, const std::string& text) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return ERROR_CANNOT_WRITE_PHONEBOOK;
  DWORD written = 0;
  BOOL ok = text.empty() ||
            WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
  return ok && written == text.size() ? 0 : ERROR_CANNOT_WRITE_PHONEBOOK;
}

// Creates the folders of the default phonebook; a caller's own path is taken as it is.
void MakeParentFolders(const std::string& path) {
  for (size_t i = 3; i < path.size(); ++i) {
    if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

// Phonebook files are read and rewritten whole; this mutex keeps two writers of one file
// (two processes setting entries at once) from losing each other's entries.
class CPhonebookLock {
 public:
  CPhonebookLock() : m_mutex(CreateMutexA(nullptr, FALSE, "Local\\AccelDialupPhonebookMutex")) {
    if (m_mutex) {
      DWORD w = WaitForSingleObject(m_mutex, 5000);
      m_locked = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
    }
  }
  ~CPhonebookLock() {
    if (m_locked) ReleaseMutex(m_mutex);
    if (m_mutex) CloseHandle(m_mutex);
  }

 private:
  HANDLE m_mutex;
  bool m_locked = false;
};

}  // namespace

std::string PhonebookPath(const char* given) {
  if (given && *given) return given;
  char appData[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
  if (n == 0 || n >= sizeof appData) CopyCut(appData, sizeof appData, ".");
  return std::string(appData) + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
}

void DefaultEntry(RASENTRYA* e) {
  DWORD size = e->dwSize;
  std::memset(e, 0, sizeof *e);
  e->dwSize = size;
  e->dwFramingProtocol = RASFP_Ppp;
  e->dwfNetProtocols = RASNP_Ip;
  e->dwType = RASET_Phone;
}

DWORD LoadEntry(const std::string& phonebook, const std::string& name, RASENTRYA* entry) {
  std::string text;
  DWORD err;
  {
    CPhonebookLock lock;
    err = ReadFileText(phonebook, &text);
  }
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (err) return err;
  for (const PbkSection& s : ParsePhonebook(text)) {
    if (PbkNameEquals(s.name, name)) {
      SectionToEntry(s, entry);
      return 0;
    }
  }
  return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
}

DWORD StoreEntry(const std::string& phonebook, const std::string& name, const RASENTRYA& entry) {
  CPhonebookLock lock;
  std::string text;
  DWORD err = ReadFileText(phonebook, &text);
  if (err == ERROR_FILE_NOT_FOUND) {
    if (phonebook == PhonebookPath(nullptr)) MakeParentFolders(phonebook);
    text.clear();
  } else if (err) {
    return ERROR_CANNOT_WRITE_PHONEBOOK;
  }
  std::string section = FormatPbkSection(EntryToSection(name, entry));
  return WriteFileText(phonebook, ReplacePbkSection(text, name, section));
}

DWORD DeleteEntry(const std::string& phonebook, const std::string& name) {
  CPhonebookLock lock;
  std::string text;
  DWORD err = ReadFileText(phonebook, &text);
  if (err == ERROR_FILE_NOT_FOUND) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  if (err) return err;
  std::string rest;
  if (!RemovePbkSection(text, name, &rest)) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  return WriteFileText(phonebook, rest);
}

DWORD ListEntries(const std::string& phonebook, std::vector<std::string>* names) {
  names->clear();
  std::string text;
  DWORD err;
  {
    CPhonebookLock lock;
    err = ReadFileText(phonebook, &text);
  }
  if (err == ERROR_FILE_NOT_FOUND) return 0;
  if (err) return err;
  for (const PbkSection& s : ParsePhonebook(text)) names->push_back(s.name);
  return 0;
}

}  // namespace dialup
