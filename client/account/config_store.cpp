#include "client/account/config_store.h"

#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "client/accel/list_download.h"
#include "client/account/password_scramble.h"
#include "client/account/servers_file.h"
#include "common/protected_dir.h"
#include "common/run_log.h"
#include "common/text_format.h"

#if defined(_WIN32) && !defined(_WIN64)
// The shipping build's record: GetVersionExA checks the size field against it.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA of the 32-bit build");
#endif

namespace {

CConfigStore* g_current = nullptr;

const char kUserSection[] = "User";
const size_t kCachePathBytes = 500;

std::string RunningProgramFile() {
  char path[600];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  // Windows XP does not terminate a path that fills the buffer: such a path is as unusable
  // as a failed call.
  if (n == 0 || n >= sizeof path) return std::string();
  return std::string(path, n);
}

const char* Flag(int value) { return value ? "1" : "0"; }

// Whether the profile functions give the value back as it was written. They end a value at
// a line break (its rest would read as a key of its own), trim blanks and control bytes at
// both ends and take off one pair of enclosing quotes; a value they would alter is not
// stored, since reading it back would give something else (a remembered password that
// no longer logs in).
bool ComesBackUnchanged(const std::string& value) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  if (value.empty()) return true;
  unsigned char first = static_cast<unsigned char>(value[0]);
  unsigned char last = static_cast<unsigned char>(value[value.size() - 1]);
  if (first <= 0x20 || last <= 0x20) return false;
  bool quoteFirst = first == '"' || first == '\'';
  bool quoteLast = last == '"' || last == '\'';
  return !(value.size() >= 2 && quoteFirst && quoteLast);
}

// The whole stored value of a key of the User section, however long; false when the key is
// absent or its value empty.
bool ReadProfileText(const char* key, const std::string& ini, std::string* value) {
  for (DWORD size = 256;; size *= 4) {
    std::vector<char> buf(size);
    DWORD n = GetPrivateProfileStringA(kUserSection, key, "", buf.data(), size, ini.c_str());
    // A value that filled the buffer may go on: ask again with more room.
    if (n + 1 < size || size >= 65536) {
      if (n == 0) return false;
      value->assign(buf.data(), n);
      return true;
    }
  }
}

}  // namespace

CConfigStore& ConfigStore() {
  if (g_current) return *g_current;
  return ConfigStore(nullptr);
}

CConfigStore& ConfigStore(WorkerStarter starter) {
  // Never destroyed: the worker may still be busy with it while the process ends.
  static CConfigStore* product = new CConfigStore(starter);  // its constructor makes it current
  static bool started = starter != nullptr;
  if (starter && !started) {
    started = true;
    product->m_pWorker = starter(product);
  }
  return g_current ? *g_current : *product;
}

CConfigStore::CConfigStore(WorkerStarter starter) { Construct(RunningProgramFile(), starter); }

CConfigStore::CConfigStore(const std::string& programFile, WorkerStarter starter) {
  Construct(programFile, starter);
}

CConfigStore::~CConfigStore() {
  if (m_pWorker) {
    m_pWorker->PostThreadMessage(WM_QUIT, 0, 0);
    // No time limit: a job may hold the worker for half a minute (a ping, a login over
    // silent servers), and until its thread has ended it uses this store and its own object.
    WaitForSingleObject(m_pWorker->ThreadHandle(), INFINITE);
    delete m_pWorker;
    m_pWorker = nullptr;
  }
  if (g_current == this) g_current = m_previous;
}

void CConfigStore::Construct(const std::string& programFile, WorkerStarter starter) {
  m_previous = g_current;
  g_current = this;

  // 1. Initial values, then the Windows version.
  std::memset(&m_osVersion, 0, sizeof m_osVersion);
  std::memset(&m_directRoute, 0, sizeof m_directRoute);
  std::memset(&m_tunnelRoute, 0, sizeof m_tunnelRoute);
  std::memset(m_programDir, 0, sizeof m_programDir);
  m_osVersion.dwOSVersionInfoSize = sizeof m_osVersion;
  GetVersionExA(&m_osVersion);

  // 2. Program directory: the program file cut at its last backslash. When the program's
  // own path cannot be had it stays empty: a stand-in such as ".\\" would be the current
  // directory, which whoever starts the elevated client chooses, and every file, library
  // and phonebook would be looked for there. Then there are no local files at all.
  size_t slash = programFile.rfind('\\');
  if (slash != std::string::npos && slash > 0)
    CopyCut(m_programDir, sizeof m_programDir, programFile.substr(0, slash).c_str());
  bool known = m_programDir[0] != '\0';

  // 3. The cache directory, where every local file of the client lies.
  std::string cacheDir = std::string(m_programDir) + "\\Cache";
  DWORD attributes = known ? GetFileAttributesA(cacheDir.c_str()) : INVALID_FILE_ATTRIBUTES;
  if (known && (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
    CreateProtectedDirectory(cacheDir.c_str());

  // 4. The run log lies beside the lists.
  if (known) CRunLog::SetPath((std::string(m_programDir) + "\\Cache\\velavpn.log").c_str());

  // 5. Service addresses and the program version.
  m_hosts = known ? ReadServiceHosts(std::string(m_programDir) + "\\service.ini")
                  : DefaultServiceHosts();
  m_siteUrl = "http://" + m_hosts.web;
  m_registerUrl = "http://" + m_hosts.forum + "/register.php";
  m_errorUrl = ClientPageUrl("/error.php");
  m_updateUrl = WebPageUrl("/accelclient.rar");
  m_programVersion = ReadProgramVersion(programFile, nullptr);

  // 6. The service's lists (blocking), then the lines of groups.xml.
  RefreshAndReadLines(ListUrl("/servers2.0.php"), CachePath("servers.xml"),
                      ListUrl("/server_group.php"), CachePath("groups.xml"), m_lines);

  // 7. Games, then login servers.
  ReadGames(CachePath("servers.xml"), m_games);
  ReadLoginServers(CachePath("servers.xml"), m_loginServers);

  // 8.
  CRunLog::Write("操作系统版本：%d.%d %s\r\n", static_cast<int>(m_osVersion.dwMajorVersion),
                 static_cast<int>(m_osVersion.dwMinorVersion), m_osVersion.szCSDVersion);

  // 9. Last: the background worker, through the program's starter.
  if (starter) m_pWorker = starter(this);
}

BOOL CConfigStore::PostToWorker(UINT message, WPARAM wParam, LPARAM lParam) const {
  return m_pWorker ? m_pWorker->PostThreadMessage(message, wParam, lParam) : FALSE;
}

std::string CConfigStore::CachePath(const char* name) const {
  if (m_programDir[0] == '\0') return std::string();
  std::string path = Format("%s\\Cache\\%s", m_programDir, name ? name : "");
  if (path.size() >= kCachePathBytes) return std::string();
  return path;
}

std::string CConfigStore::ListUrl(const char* path) const {
  return "http://" + m_hosts.client + ":8080" + path;
}

std::string CConfigStore::ClientPageUrl(const char* path) const {
  return "http://" + m_hosts.client + path;
}

std::string CConfigStore::WebPageUrl(const char* path) const {
  return "http://" + m_hosts.web + path;
}

int CConfigStore::ReadProgramVersion(const std::string& file, std::string* text) {
  std::string version;
  DWORD handle = 0;
  DWORD size = file.empty() ? 0 : GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (size == 0) {
    version = "None VerSion Supprot";
  } else {
    std::vector<char> block(size);
    if (GetFileVersionInfoA(file.c_str(), 0, size, block.data())) {
      struct LangCodePage {
        WORD language;
        WORD codePage;
      };
      LangCodePage* pairs = nullptr;
      UINT bytes = 0;
      if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&pairs), &bytes) && pairs) {
        for (UINT i = 0; i < bytes / sizeof(LangCodePage); ++i) {
          char key[64];
          FormatCut(key, sizeof key, "\\StringFileInfo\\%04x%04x\\FileVersion", pairs[i].language,
                    pairs[i].codePage);
          char* value = nullptr;
          UINT chars = 0;
          if (VerQueryValueA(block.data(), key, reinterpret_cast<void**>(&value), &chars) && value)
            version.append(value, strnlen(value, chars));
        }
      }
    }
  }
  if (text) *text = version;
  int major = 0, minor = 0, build = 0;
  if (std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &build) < 1) return 0;
  return major * 10000 + minor * 100 + build;
}

bool CConfigStore::IsUsableUserName(const std::string& name) {
  return name.find_first_of(";,\r\n") == std::string::npos;
}

void CConfigStore::LoadUserIni() {
  std::string ini = CachePath("user.ini");
  if (ini.empty()) return;
  m_userIniLoaded = true;
  // Whole values: the login dialog does not limit name or password, and a value read
  // back cut would fail the automatic login on every start.
  std::string text;
  // A saved name the login would refuse is not offered again (user.ini is a plain file).
  if (ReadProfileText("NAME", ini, &text) && IsUsableUserName(text)) m_userName = text;
  if (ReadProfileText("PASSWD", ini, &text)) m_password = UnscramblePassword(text);
  m_remember = static_cast<int>(GetPrivateProfileIntA(kUserSection, "REMEMBER", 0, ini.c_str()));
  m_exitNotify =
      static_cast<int>(GetPrivateProfileIntA(kUserSection, "EXIT_NOTIFY", 1, ini.c_str()));
  m_autoLogin =
      static_cast<int>(GetPrivateProfileIntA(kUserSection, "AUTO_LOGIN", 0, ini.c_str()));
  // Held one higher: saving the settings again then counts this start.
  m_runCounter =
      static_cast<int>(GetPrivateProfileIntA(kUserSection, "RUN_COUNTER", 0, ini.c_str())) + 1;
  m_connSrv = static_cast<int>(GetPrivateProfileIntA(kUserSection, "CONN_SRV", 0, ini.c_str()));
  m_modeApp = static_cast<int>(GetPrivateProfileIntA(kUserSection, "MODE_APP", 0, ini.c_str()));
}

void CConfigStore::LoadUserDocument(CXmlDoc& doc, const char* name, bool* ready) {
  if (!doc.LoadFile(CachePath(name))) {
    // Missing or broken: an empty data document takes its place (and its file's place at
    // the next save).
    doc.SetText("");
    doc.AppendElement("data");
  }
  *ready = true;
}

int CConfigStore::LoadSettings() {
  LoadUserIni();

  ServiceUrls urls{m_helpUrl, m_registerUrl, m_updateUrl};
  if (!ReadServiceUrls(CachePath("servers.xml"), urls)) return 0;
  m_helpUrl = urls.help;
  m_registerUrl = urls.registerUrl;
  m_updateUrl = urls.update;

  LoadUserDocument(m_notaccel, "notaccel.xml", &m_notaccelReady);
  LoadUserDocument(m_accel, "accel.xml", &m_accelReady);
  return 1;
}

bool CConfigStore::SaveSettings() {
  bool ok = true;
  if (m_userIniLoaded) ok &= SaveUserIni();
  if (m_notaccelReady) ok &= m_notaccel.SaveFile(CachePath("notaccel.xml"));
  if (m_accelReady) ok &= m_accel.SaveFile(CachePath("accel.xml"));
  return ok;
}

bool CConfigStore::SaveUserIni() {
  std::string ini = CachePath("user.ini");
  if (ini.empty()) return false;
  const char* file = ini.c_str();
  bool ok = true;
  std::string name = ComesBackUnchanged(m_userName) ? m_userName : std::string();
  ok &= WritePrivateProfileStringA(kUserSection, "NAME", name.c_str(), file) != FALSE;
  if (m_remember) {
    std::string stored = ScramblePassword(m_password);
    if (!ComesBackUnchanged(stored)) stored.clear();
    ok &= WritePrivateProfileStringA(kUserSection, "PASSWD", stored.c_str(), file) != FALSE;
    ok &= WritePrivateProfileStringA(kUserSection, "REMEMBER", "1", file) != FALSE;
  } else {
    ok &= WritePrivateProfileStringA(kUserSection, "PASSWD", "", file) != FALSE;
    ok &= WritePrivateProfileStringA(kUserSection, "REMEMBER", "0", file) != FALSE;
  }
  ok &= WritePrivateProfileStringA(kUserSection, "EXIT_NOTIFY", Flag(m_exitNotify), file) != FALSE;
  ok &= WritePrivateProfileStringA(kUserSection, "AUTO_LOGIN", Flag(m_autoLogin), file) != FALSE;
  ok &= WritePrivateProfileStringA(kUserSection, "RUN_COUNTER", Format("%d", m_runCounter).c_str(),
                                   file) != FALSE;
  ok &= WritePrivateProfileStringA(kUserSection, "MODE_APP", Format("%d", m_modeApp).c_str(),
                                   file) != FALSE;
  ok &= WritePrivateProfileStringA(kUserSection, "CONN_SRV", Format("%d", m_connSrv).c_str(),
                                   file) != FALSE;
  return ok;
}

bool CConfigStore::IsOnline() {
  DWORD flags = 0;
  return InternetGetConnectedState(&flags, 0) != FALSE;
}

bool CConfigStore::DownloadWhenOnline(const std::string& url, const std::string& path,
                                      const char* root) {
  if (!IsOnline()) return false;
  return DownloadListFile(url, path, root);
}

bool CConfigStore::GetDnsServers(std::vector<std::string>& servers) {
  // 584 bytes is the record of the 32-bit build; a larger list asks for more.
  ULONG size = 584;
  std::vector<unsigned char> buf(size, 0);
  DWORD rc = GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buf.data()), &size);
  if (rc == ERROR_BUFFER_OVERFLOW) {
    buf.assign(size, 0);
    rc = GetNetworkParams(reinterpret_cast<FIXED_INFO*>(buf.data()), &size);
  }
  if (rc != ERROR_SUCCESS) return false;
  const FIXED_INFO* info = reinterpret_cast<const FIXED_INFO*>(buf.data());
  for (const IP_ADDR_STRING* a = &info->DnsServerList; a; a = a->Next) {
    size_t n = strnlen(a->IpAddress.String, sizeof a->IpAddress.String);
    if (n) servers.push_back(std::string(a->IpAddress.String, n));
  }
  return true;
}
