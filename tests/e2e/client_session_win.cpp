#include "tests/e2e/client_session.h"

#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/test_support/stub_client.h"

namespace e2e {

const char kTitle[] = "Vela网游加速器 V2.1";
const char kLineDialogTitle[] = "选择加速线路";

namespace {

using testing_support::EnvPath;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\accelclient.exe";
const int kConnectId = 1005;
const int kUserId = 1014;
const int kLineButtonId = 1031;
const int kLineTreeId = 1028;
const int kLatencyId = 1013;

bool CopyInto(const char* envName, const std::string& to) {
  std::string from = EnvPath(envName);
  if (from.empty()) {
    std::fprintf(stderr, "e2e: %s is not set\n", envName);
    return false;
  }
  if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
    std::fprintf(stderr, "e2e: cannot copy %s to %s (%lu)\n", from.c_str(), to.c_str(),
                 GetLastError());
    return false;
  }
  return true;
}

std::string SystemDir() {
  char dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(dir, sizeof dir);
  return n > 0 && n < sizeof dir ? std::string(dir, n) : std::string("C:\\windows\\system32");
}

std::string WindowsDir() {
  char dir[MAX_PATH];
  UINT n = GetWindowsDirectoryA(dir, sizeof dir);
  return n > 0 && n < sizeof dir ? std::string(dir, n) : std::string("C:\\windows");
}

// What the desktop's shell starts for the client (the site in explorer) runs in the
// desktop's environment, without the session's record path: the recorder in the Windows
// directory writes beside itself.
std::string DesktopRecord() { return WindowsDir() + "\\commands.txt"; }

}  // namespace

ClientSession::ClientSession(const char* tag, const char* windowsVersion)
    : m_version(windowsVersion ? windowsVersion : ""), m_pi(), m_laidOut(false) {
  m_dir = testing_support::MakeTempDir(tag);
  m_laidOut = !m_dir.empty() && Layout();
}

ClientSession::~ClientSession() {
  if (m_pi.hProcess) {
    if (Running()) {
      // What is left of a failed scenario: the exit command first, then the hard way.
      HWND frame = gui::WaitTopWindow({Pid(), "AccelMainFrame", nullptr, false}, 0);
      if (frame) PostMessageA(frame, WM_COMMAND, 30006, 0);
      if (!WaitExit(5000)) TerminateProcess(m_pi.hProcess, 99);
      WaitExit(5000);
    }
    CloseHandle(m_pi.hProcess);
    CloseHandle(m_pi.hThread);
    // A client that ends while connected leaves its hang-up running (the W7 module's
    // rasdial.exe); the next session would find system32's copy in use.
    WaitNoProcess("rasdial.exe", 30000);
  }
  if (!m_restore.empty()) DeleteFileA(DesktopRecord().c_str());
  for (const auto& saved : m_restore) {
    if (saved.second.empty())
      DeleteFileA(saved.first.c_str());
    else if (CopyFileA(saved.second.c_str(), saved.first.c_str(), FALSE))
      DeleteFileA(saved.second.c_str());
  }
  if (!m_version.empty()) RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
  for (const std::string& name : m_env) SetEnvironmentVariableA(name.c_str(), nullptr);
}

bool ClientSession::Layout() {
  std::string cache = m_dir + "\\Cache";
  CreateDirectoryA(cache.c_str(), nullptr);
  // The run's own connection table, so that nothing an earlier run left connected counts.
  SetEnv("ACCEL_DIALUP_STATE", (m_dir + "\\dialup_state.dat").c_str());
  SetEnv("ACCEL_STUB_WEB_PORT", "80");
  return CopyInto("ACCELCLIENT_EXE", m_dir + "\\accelclient.exe") &&
         CopyInto("TUNNEL_XP_DLL", m_dir + "\\tunnel_xp.dll") &&
         CopyInto("TUNNEL_W7_DLL", m_dir + "\\tunnel_w7.dll") &&
         CopyInto("IPCOLLECT_DLL", m_dir + "\\IpCollect.dll") &&
         CopyInto("ACCEL_PHONEBOOK", cache + "\\velanet_0.pbk") &&
         // The XP module loads rasapi32 by name: the replacement beside the program, preferred
         // by the WINEDLLOVERRIDES of the test; the W7 module runs system32's rasdial.exe.
         CopyInto("DIALUP_RASAPI32", m_dir + "\\rasapi32.dll") &&
         CopyInto("DIALUP_RASDIAL", SystemDir() + "\\rasdial.exe") &&
         // The game the launch offers start in the scenarios that watch its traffic.
         CopyInto("NETSIM_GAME", m_dir + "\\netsim_game.exe") &&
         // In the simulated network the routing table is the namespace's own kernel table:
         // the stand-in library beside the program adds routes to it and reads it through
         // Wine's own library, copied beside it under another name.
         (!Netsim() || (CopyInto("NETSIM_IPHLPAPI", m_dir + "\\iphlpapi.dll") &&
                        CopyInto("NETSIM_WINE_IPHLPAPI", m_dir + "\\iphlpwine.dll"))) &&
         // Every host on this machine, the report's reachability ping included.
         WriteFileBytes(m_dir + "\\service.ini",
                        "[Service]\r\nClientHost=127.0.0.1\r\nWebHost=127.0.0.1\r\n"
                        "ForumHost=127.0.0.1\r\nLoginHost=127.0.0.1\r\nReachHost=127.0.0.1\r\n");
}

bool ClientSession::WriteUserIni(const std::string& body) {
  return WriteFileBytes(CachePath("user.ini"), "[User]\r\n" + body);
}

void ClientSession::SetEnv(const char* name, const char* value) {
  // Inherited by the client and by what it starts (the W7 module's rasdial.exe).
  SetEnvironmentVariableA(name, value);
  m_env.push_back(name);
}

bool ClientSession::Start() {
  if (!m_laidOut) return false;
  if (!m_version.empty()) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Version", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(m_version.c_str()),
                     static_cast<DWORD>(m_version.size() + 1));
      RegCloseKey(key);
    }
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  std::string cmd = "\"" + m_dir + "\\accelclient.exe\"";
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  const std::string& current = m_startDir.empty() ? m_dir : m_startDir;
  return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        current.c_str(), &si, &m_pi) != FALSE;
}

void ClientSession::Kill() {
  if (!m_pi.hProcess) return;
  TerminateProcess(m_pi.hProcess, 99);
  WaitExit(10000);
  CloseHandle(m_pi.hProcess);
  CloseHandle(m_pi.hThread);
  m_pi = PROCESS_INFORMATION();
}

bool ClientSession::DropLines() const {
  // Taken by the simulated service at the next call of any process (tools/dialup).
  return WriteFileBytes(m_dir + "\\dialup_state.dat.drop", "");
}

bool ClientSession::Running() const {
  return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

bool ClientSession::WaitExit(DWORD ms) {
  return m_pi.hProcess && WaitForSingleObject(m_pi.hProcess, ms) == WAIT_OBJECT_0;
}

DWORD ClientSession::ExitCode() const {
  DWORD code = 0;
  if (m_pi.hProcess) GetExitCodeProcess(m_pi.hProcess, &code);
  return code;
}

HWND ClientSession::WaitLogin(DWORD ms) {
  return gui::WaitTopWindow({Pid(), "#32770", kTitle, true}, ms);
}

bool ClientSession::SubmitLogin(HWND login, const std::string& user, const std::string& password) {
  HWND name = gui::WaitControl(login, 1000, kStepMs);
  HWND pass = gui::FindControl(login, 1001);
  if (!gui::SetText(name, user) || !gui::SetText(pass, password)) return false;
  HWND ok = gui::FindControl(login, IDOK);
  return gui::WaitEnabled(ok, true, kStepMs) && gui::Click(ok);
}

HWND ClientSession::LoginToMain(const std::string& user, const std::string& password) {
  HWND login = WaitLogin();
  if (!login || !SubmitLogin(login, user, password)) return nullptr;
  return MainFrame(kFirstFrameMs);
}

HWND ClientSession::MainFrame(DWORD ms) {
  return gui::WaitTopWindow({Pid(), "AccelMainFrame", kTitle, true}, ms);
}

HWND ClientSession::AccelPage(HWND frame) {
  HWND connect = gui::WaitControl(frame, kConnectId, kFirstFrameMs);
  HWND page = connect ? GetParent(connect) : nullptr;
  HWND user = page ? gui::FindControl(page, kUserId) : nullptr;
  if (!user) return nullptr;
  for (DWORD waited = 0; gui::GetText(user).empty() && waited < kFirstFrameMs; waited += 100) {
    Sleep(100);
  }
  return page;
}

bool ClientSession::ChooseLine(HWND page, LPARAM lineId, std::string* latency) {
  if (!gui::Click(gui::FindControl(page, kLineButtonId))) return false;
  return PickLine(lineId, latency);
}

bool ClientSession::PickLine(LPARAM lineId, std::string* latency) {
  gui::WindowQuery q{Pid(), "#32770", kLineDialogTitle, true};
  // The dialog makes a web view of its own: as slow as the main window in a fresh prefix.
  HWND dlg = gui::WaitTopWindow(q, kFirstFrameMs);
  HWND tree = gui::WaitControl(dlg, kLineTreeId, kStepMs);
  if (!tree) return false;
  HANDLE item = nullptr;
  for (int tries = 0; tries < 50 && !item; ++tries) {
    for (const gui::TreeItem& it : gui::TreeItems(tree)) {
      if (it.data == lineId) item = it.item;
    }
    if (!item) Sleep(100);
  }
  if (!item || !gui::TreeSelect(tree, item)) return false;
  // The dialog measures the line it is shown: "N ms", "N ms，丢包P%" when some echoes were
  // lost, or "超时" when none came back.
  HWND lat = gui::FindControl(dlg, kLatencyId);
  bool measured = false;
  for (int tries = 0; tries < 100 && !measured; ++tries) {
    std::string t = gui::GetText(lat);
    measured = t == "超时" || (t.size() > 3 && t.compare(t.size() - 3, 3, " ms") == 0) ||
               (t.find(" ms，丢包") != std::string::npos && t.back() == '%');
    if (latency) *latency = t;
    if (!measured) Sleep(100);
  }
  if (!gui::Click(gui::FindControl(dlg, IDOK))) return false;
  return gui::WaitNoTopWindow(q, kStepMs) && measured;
}

bool ClientSession::CatchCommands() {
  m_startDir = m_dir + "\\start";
  CreateDirectoryA(m_startDir.c_str(), nullptr);
  static const char* const kPlanted[] = {"sc.exe",    "net.exe",   "notepad.exe",
                                         "explorer.exe", "ipconfig.exe", "route.exe",
                                         "netstat.exe", "ping.exe", "rasdial.exe"};
  for (const char* name : kPlanted) {
    if (!CopyInto("PLANTED_PROGRAM", m_dir + "\\" + name) ||
        !CopyInto("PLANTED_PROGRAM", m_startDir + "\\" + name)) {
      return false;
    }
  }
  SetEnv("ACCEL_COMMAND_RECORD", (m_dir + "\\commands.txt").c_str());
  DeleteFileA(DesktopRecord().c_str());
  const std::string system = SystemDir() + "\\", windows = WindowsDir() + "\\";
  std::string recorder;
  if (!ReadFileBytes(EnvPath("COMMAND_RECORDER"), &recorder) || recorder.empty()) {
    std::fprintf(stderr, "e2e: cannot read the command recorder\n");
    return false;
  }
  for (const std::string& target : {system + "sc.exe", system + "net.exe",
                                    system + "notepad.exe", windows + "explorer.exe"}) {
    // The original is kept beside it, under a name of its own, until a session puts it back:
    // a run killed in a scenario leaves the recorder in its place and the copy there, and the
    // next session, finding the recorder, keeps that copy rather than the recorder. A program
    // the prefix lacks is removed again.
    const std::string saved = target + ".e2e-original";
    std::string bytes;
    bool present = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (present && !ReadFileBytes(target, &bytes)) {
      std::fprintf(stderr, "e2e: cannot read %s\n", target.c_str());
      return false;
    }
    if (present && bytes != recorder && !CopyFileA(target.c_str(), saved.c_str(), FALSE)) {
      std::fprintf(stderr, "e2e: cannot keep %s (%lu)\n", target.c_str(), GetLastError());
      return false;
    }
    bool kept = GetFileAttributesA(saved.c_str()) != INVALID_FILE_ATTRIBUTES;
    m_restore.emplace_back(target, kept ? saved : std::string());
    if (!CopyInto("COMMAND_RECORDER", target)) return false;
  }
  return CopyInto("COMMAND_RECORDER", m_dir + "\\browser.exe");
}

std::string ClientSession::Commands() const {
  std::string lines, desktop;
  ReadFileBytes(m_dir + "\\commands.txt", &lines);
  if (!m_restore.empty()) ReadFileBytes(DesktopRecord(), &desktop);
  return lines + desktop;
}

std::string ClientSession::Planted() const {
  std::string inProgramDir, inStartDir;
  ReadFileBytes(m_dir + "\\planted.txt", &inProgramDir);
  if (!m_startDir.empty()) ReadFileBytes(m_startDir + "\\planted.txt", &inStartDir);
  return inProgramDir + inStartDir;
}

bool ClientSession::WaitCommand(const std::string& part, DWORD ms) const {
  for (DWORD waited = 0; Commands().find(part) == std::string::npos; waited += 100) {
    if (waited >= ms) return false;
    Sleep(100);
  }
  return true;
}

std::string ClientSession::RunLog() const {
  std::string log;
  ReadFileBytes(CachePath("run.log"), &log);
  return log;
}

bool Netsim() {
  const char* v = std::getenv("ACCEL_NETSIM");
  return v && std::strcmp(v, "1") == 0;
}

std::vector<std::string> KernelRoutes() {
  std::string body;
  std::vector<std::string> routes;
  if (testing_support::HttpRequest(80, "GET", "/_routes", "", &body) != 200) return routes;
  size_t pos = 0;
  while (pos < body.size()) {
    size_t end = body.find('\n', pos);
    if (end == std::string::npos) end = body.size();
    if (end > pos) routes.push_back(body.substr(pos, end - pos));
    pos = end + 1;
  }
  std::sort(routes.begin(), routes.end());
  return routes;
}

size_t PacketMark() {
  std::string record;
  ReadFileBytes(EnvPath("ACCEL_STUB_PACKETS"), &record);
  // Only whole lines: one being written belongs after the mark.
  size_t end = record.rfind('\n');
  return end == std::string::npos ? 0 : end + 1;
}

std::vector<std::string> Packets(size_t mark, const std::string& iface, const char* proto,
                                 const std::string& dst, int port) {
  std::string record;
  std::vector<std::string> out;
  ReadFileBytes(EnvPath("ACCEL_STUB_PACKETS"), &record);
  const std::string ifMember = "\"if\":\"" + iface;
  const std::string dstMember = "\"dst\":\"" + dst + "\"";
  const std::string protoMember = std::string("\"proto\":\"") + proto + "\"";
  const std::string portMember = ",\"dport\":" + std::to_string(port) + ",";
  size_t pos = mark;
  while (pos < record.size()) {
    size_t end = record.find('\n', pos);
    if (end == std::string::npos) break;  // not whole yet
    std::string line = record.substr(pos, end - pos);
    if (line.find(ifMember) != std::string::npos && line.find(dstMember) != std::string::npos &&
        line.find(protoMember) != std::string::npos &&
        (port < 0 || line.find(portMember) != std::string::npos) &&
        line.find("\"error\":") == std::string::npos)
      out.push_back(line);
    pos = end + 1;
  }
  return out;
}

bool ReadIfBytes(const char* iface, IfBytes* out) {
  // Z: is the root of the machine's files; the test runs inside the lane's namespace, whose
  // own sysfs (the 32-bit lane's chroot mounts it there) shows its interfaces.
  const std::string dir = std::string("Z:\\sys\\class\\net\\") + iface + "\\statistics\\";
  std::string tx, rx;
  out->at = GetTickCount();
  if (!ReadFileBytes(dir + "tx_bytes", &tx) || !ReadFileBytes(dir + "rx_bytes", &rx)) return false;
  char* end = nullptr;
  out->tx = std::strtoull(tx.c_str(), &end, 10);
  if (end == tx.c_str()) return false;
  out->rx = std::strtoull(rx.c_str(), &end, 10);
  return end != rx.c_str();
}

size_t Requests(const char* path) { return testing_support::CountStubRecords("path", path); }

bool RequestWithQuery(const char* path, const std::string& part) {
  std::string record;
  if (!ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &record)) return false;
  const std::string member = std::string("\"path\":\"") + path + "\"";
  size_t pos = 0;
  while (pos < record.size()) {
    size_t end = record.find('\n', pos);
    if (end == std::string::npos) end = record.size();
    std::string line = record.substr(pos, end - pos);
    if (line.find(member) != std::string::npos &&
        testing_support::RecordString(line, "query").find(part) != std::string::npos) {
      return true;
    }
    pos = end + 1;
  }
  return false;
}

bool WaitNoProcess(const char* exe, DWORD ms) {
  for (DWORD waited = 0;; waited += 100) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32First(snap, &entry); more && !running;
         more = Process32Next(snap, &entry)) {
      running = lstrcmpiA(entry.szExeFile, exe) == 0;
    }
    CloseHandle(snap);
    if (!running) return true;
    if (waited >= ms) return false;
    Sleep(100);
  }
}

std::string LocalExpiry(unsigned long long seconds) {
  ULONGLONG ticks = (seconds + 11644473600ULL) * 10000000ULL;
  FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local;
  SYSTEMTIME st;
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &st);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute);
  return buf;
}

bool TrayIconShown(HWND owner, UINT id) {
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = id;
  data.uFlags = 0;
  return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

namespace {
BOOL CALLBACK CollectBalloon(HWND w, LPARAM texts) {
  char cls[32];
  if (GetClassNameA(w, cls, sizeof cls) && lstrcmpiA(cls, TOOLTIPS_CLASSA) == 0 &&
      IsWindowVisible(w) && (GetWindowLongA(w, GWL_STYLE) & TTS_BALLOON)) {
    char text[512];
    // A tooltip answers WM_GETTEXT with the tip it shows, in any process.
    DWORD_PTR n = 0;
    if (SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 1000, &n) && n < sizeof text) {
      reinterpret_cast<std::vector<std::string>*>(texts)->emplace_back(text, n);
    }
  }
  return TRUE;
}
}  // namespace

bool WaitTrayBalloon(const std::string& text, DWORD ms) {
  for (DWORD waited = 0;; waited += 100) {
    std::vector<std::string> shown;
    EnumWindows(CollectBalloon, reinterpret_cast<LPARAM>(&shown));
    if (std::find(shown.begin(), shown.end(), text) != shown.end()) return true;
    if (waited >= ms) return false;
    Sleep(100);
  }
}

bool SetMachineString(const char* key, const char* name, const std::string& value, DWORD type) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG r = RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

void DeleteMachineKey(const char* key) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, key); }

namespace {
const char kHttpOpen[] = "Software\\Classes\\http\\shell\\open\\command";
}

BrowserStandIn::BrowserStandIn(const ClientSession& session) : m_hadOld(false) {
  char old[1024];
  LONG size = sizeof old;
  if (RegQueryValueA(HKEY_LOCAL_MACHINE, kHttpOpen, old, &size) == ERROR_SUCCESS) {
    m_old = old;
    m_hadOld = true;
  }
  std::string command = "\"" + session.Dir() + "\\browser.exe\" \"%1\"";
  RegSetValueA(HKEY_LOCAL_MACHINE, kHttpOpen, REG_SZ, command.c_str(),
               static_cast<DWORD>(command.size()));
}

BrowserStandIn::~BrowserStandIn() {
  if (m_hadOld) {
    RegSetValueA(HKEY_LOCAL_MACHINE, kHttpOpen, REG_SZ, m_old.c_str(),
                 static_cast<DWORD>(m_old.size()));
  } else {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kHttpOpen);
  }
}

std::vector<int> ScreenPixelRows(HWND w, COLORREF color, int inset, int tolerance) {
  RECT r = gui::WindowRect(w);
  int width = r.right - r.left, height = r.bottom - r.top;
  std::vector<int> rows;
  if (width <= 2 * inset || height <= 2 * inset) return rows;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(mem, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    // 32-bit DIB pixels are blue, green, red, unused.
    const DWORD* p = static_cast<const DWORD*>(bits);
    auto within = [tolerance](DWORD channel, BYTE want) {
      return static_cast<int>(channel & 0xFF) - want <= tolerance &&
             want - static_cast<int>(channel & 0xFF) <= tolerance;
    };
    for (int y = inset; y < height - inset; ++y) {
      int n = 0;
      for (int x = inset; x < width - inset; ++x) {
        DWORD px = p[y * width + x];
        n += within(px >> 16, GetRValue(color)) && within(px >> 8, GetGValue(color)) &&
             within(px, GetBValue(color));
      }
      rows.push_back(n);
    }
    SelectObject(mem, old);
  }
  if (dib) DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return rows;
}

int ScreenPixels(HWND w, COLORREF color) {
  int n = 0;
  for (int row : ScreenPixelRows(w, color, 0)) n += row;
  return n;
}

void SetLogPixels(DWORD dpi) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (dpi) {
    RegSetValueExA(k, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
  } else {
    RegDeleteValueA(k, "LogPixels");
  }
  RegCloseKey(k);
}

}  // namespace e2e
