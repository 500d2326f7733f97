// The simulated dial-up service as its callers meet it: the replacement rasapi32.dll loaded
// by path (Wine is told to prefer it over its builtin), the stand-in rasdial.exe run as a
// process, and the service stand-in played by a small HTTP responder on loopback.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ras.h>
#include <raserror.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/text_format.h"
#include "tools/dialup/command_line.h"
#include "tools/dialup/phonebook_text.h"

namespace {

#include <pshpack4.h>
struct DialParams601 {  // RASDIALPARAMSA as a WINVER 0x0601 caller builds it
  RASDIALPARAMSA xp;
  DWORD dwIfIndex;
};
struct Conn601 {  // RASCONNA as a WINVER 0x0601 caller builds it
  RASCONNA xp;
  GUID guidCorrelationId;
};
#include <poppack.h>

// ---------------------------------------------------------------------------------------
// The library under test.

struct Ras {
  HMODULE module = nullptr;
  bool ours = false;  // not Wine's builtin of the same name
  decltype(&RasSetEntryPropertiesA) SetEntry = nullptr;
  decltype(&RasGetEntryPropertiesA) GetEntry = nullptr;
  decltype(&RasDeleteEntryA) DeleteEntry = nullptr;
  decltype(&RasEnumEntriesA) EnumEntries = nullptr;
  decltype(&RasDialA) Dial = nullptr;
  decltype(&RasHangUpA) HangUp = nullptr;
  decltype(&RasGetConnectStatusA) Status = nullptr;
  decltype(&RasGetProjectionInfoA) Projection = nullptr;
  decltype(&RasEnumConnectionsA) EnumConnections = nullptr;
  decltype(&RasGetErrorStringA) ErrorString = nullptr;
};
Ras g_ras;

std::string ExeDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string p(path, n);
  return p.substr(0, p.rfind('\\') + 1);
}

template <typename F>
void Bind(F* f, const char* name) {
  *f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_ras.module, name)));
  ASSERT_NE(*f, nullptr) << name;
}

// ---------------------------------------------------------------------------------------
// The service stand-in: answers /vpn_auth.php with "OK" for alice/s3cret, else "DENY".
// With the simulated network it answers /_tunnel with "OK" and /_route with the body set by
// the test; without it, both with 404, as the stand-in does when it runs without one.

class CAuthResponder {
 public:
  CAuthResponder() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(m_listen, 8);
    int len = sizeof addr;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~CAuthResponder() {
    closesocket(m_listen);
    m_thread.join();
  }
  unsigned short Port() const { return m_port; }
  std::vector<std::string> Targets() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_targets;
  }
  // The requests for the simulated network, in order.
  std::vector<std::string> NetTargets() {
    std::vector<std::string> out;
    for (const std::string& t : Targets()) {
      if (t.compare(0, 2, "/_") == 0) out.push_back(t);
    }
    return out;
  }
  void SetNetwork(bool on, const std::string& routeBody = "0") {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_network = on;
    m_routeBody = routeBody;
  }

 private:
  void Serve() {
    for (;;) {
      SOCKET s = accept(m_listen, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      std::string request;
      char buf[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, n);
      }
      size_t sp = request.find(' ');
      size_t sp2 = request.find(' ', sp + 1);
      std::string target =
          sp == std::string::npos || sp2 == std::string::npos ? "" : request.substr(sp + 1, sp2 - sp - 1);
      std::string body = target == "/vpn_auth.php?user=alice&pass=s3cret" ? "OK" : "DENY";
      const char* status = "200 OK";
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_targets.push_back(target);
        if (target.compare(0, 2, "/_") == 0) {
          body = target.compare(0, 7, "/_route") == 0 ? m_routeBody : "OK";
          if (!m_network) {
            status = "404 Not Found";
            body = "no simulated network";
          }
        }
      }
      std::string answer = Format("HTTP/1.1 %s\r\nContent-Type: text/plain\r\n"
                                  "Content-Length: %u\r\nConnection: close\r\n\r\n%s",
                                  status, static_cast<unsigned>(body.size()), body.c_str());
      send(s, answer.data(), static_cast<int>(answer.size()), 0);
      shutdown(s, SD_SEND);
      while (recv(s, buf, sizeof buf, 0) > 0) {
      }
      closesocket(s);
    }
  }

  SOCKET m_listen;
  unsigned short m_port = 0;
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_targets;
  bool m_network = true;
  std::string m_routeBody = "0";
};

// ---------------------------------------------------------------------------------------
// What a type-2 notifier hears.

struct DialEvent {
  ULONG_PTR callbackId;
  DWORD subEntry;
  HRASCONN conn;
  UINT msg;
  DWORD state;
  DWORD error;
};

struct Recorder {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<DialEvent> events;

  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
  }
  // Waits for the end of the dial (connected or an error); false on time-out.
  bool WaitEnd() {
    std::unique_lock<std::mutex> lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(15), [this] {
      return !events.empty() && (events.back().state == RASCS_Connected || events.back().error);
    });
  }
  std::vector<DWORD> States() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<DWORD> s;
    for (const DialEvent& e : events) s.push_back(e.state);
    return s;
  }
  DialEvent Last() {
    std::lock_guard<std::mutex> lock(mutex);
    return events.back();
  }
};
Recorder g_rec;

DWORD WINAPI OnDial(ULONG_PTR id, DWORD sub, HRASCONN h, UINT msg, RASCONNSTATE state,
                    DWORD error, DWORD) {
  std::lock_guard<std::mutex> lock(g_rec.mutex);
  g_rec.events.push_back({id, sub, h, msg, static_cast<DWORD>(state), error});
  g_rec.cv.notify_all();
  return 1;
}

// ---------------------------------------------------------------------------------------

class DialupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string dll = ExeDir() + "rasapi32.dll";
    g_ras.module = LoadLibraryA(dll.c_str());
    ASSERT_NE(g_ras.module, nullptr) << dll;
    char loaded[MAX_PATH];
    GetModuleFileNameA(g_ras.module, loaded, sizeof loaded);
    ASSERT_EQ(lstrcmpiA(loaded, dll.c_str()), 0)
        << "Wine loaded " << loaded << ": run with WINEDLLOVERRIDES=rasapi32=n,b";
    g_ras.ours = true;
    Bind(&g_ras.SetEntry, "RasSetEntryPropertiesA");
    Bind(&g_ras.GetEntry, "RasGetEntryPropertiesA");
    Bind(&g_ras.DeleteEntry, "RasDeleteEntryA");
    Bind(&g_ras.EnumEntries, "RasEnumEntriesA");
    Bind(&g_ras.Dial, "RasDialA");
    Bind(&g_ras.HangUp, "RasHangUpA");
    Bind(&g_ras.Status, "RasGetConnectStatusA");
    Bind(&g_ras.Projection, "RasGetProjectionInfoA");
    Bind(&g_ras.EnumConnections, "RasEnumConnectionsA");
    Bind(&g_ras.ErrorString, "RasGetErrorStringA");
  }

  void SetUp() override {
    ASSERT_TRUE(g_ras.ours && g_ras.ErrorString) << "the simulated rasapi32.dll is not loaded";
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    m_dir = Format("%sdialup_test_%lu_%d", temp, GetCurrentProcessId(), ++serial);
    CreateDirectoryA(m_dir.c_str(), nullptr);
    EmptyDir();  // Wine reuses process ids: an earlier run may have left files here
    m_pbk = m_dir + "\\velanet_1.pbk";
    SetEnvironmentVariableA("ACCEL_DIALUP_STATE", (m_dir + "\\state.dat").c_str());
    SetEnvironmentVariableA("ACCEL_STUB_WEB_PORT", Format("%u", m_web.Port()).c_str());
    SetEnvironmentVariableA("ACCEL_DIALUP_DELAY_MS", "2");
    SetEnvironmentVariableA("ACCEL_DIALUP_HANGUP_MS", "0");
    SetEnvironmentVariableA("ACCEL_DIALUP_FAIL", nullptr);
    SetEnvironmentVariableA("ACCEL_DIALUP_NEVER_UP", nullptr);
    SetEnvironmentVariableA("ACCEL_DIALUP_DROP_MS", nullptr);
    SetEnvironmentVariableA("ACCEL_DIALUP_NO_INTERFACE", nullptr);
    g_rec.Clear();
  }

  void TearDown() override {
    // Whatever a failed test left connected must not leak into the next one.
    if (!g_ras.ours) return;
    SetEnvironmentVariableA("ACCEL_DIALUP_HANGUP_MS", "0");
    for (HRASCONN h : Connections()) g_ras.HangUp(h);
    EmptyDir();
    RemoveDirectoryA(m_dir.c_str());
  }

  void EmptyDir() {
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((m_dir + "\\*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA((m_dir + "\\" + fd.cFileName).c_str());
      }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
  }

  // The entry as the XP tunnel build writes it.
  DWORD WriteEntry(const std::string& pbk, const char* name, const char* host) {
    RASENTRYA e;
    std::memset(&e, 0, sizeof e);
    e.dwSize = sizeof e;
    CopyCut(e.szLocalPhoneNumber, sizeof e.szLocalPhoneNumber, host);
    e.dwfNetProtocols = RASNP_NetBEUI | RASNP_Ipx | RASNP_Ip;
    e.dwFramingProtocol = RASFP_Ppp;
    CopyCut(e.szDeviceType, sizeof e.szDeviceType, "vpn");
    CopyCut(e.szDeviceName, sizeof e.szDeviceName, "RAS VPN Line 0");
    e.dwType = RASET_Vpn;
    e.dwVpnStrategy = VS_PptpFirst;
    e.dwRedialCount = 3;
    return g_ras.SetEntry(pbk.c_str(), name, &e, sizeof e, nullptr, 0);
  }

  RASDIALPARAMSA Params(const char* entry, const char* user, const char* pass) {
    RASDIALPARAMSA p;
    std::memset(&p, 0, sizeof p);
    p.dwSize = sizeof p;
    CopyCut(p.szEntryName, sizeof p.szEntryName, entry);
    CopyCut(p.szUserName, sizeof p.szUserName, user);
    CopyCut(p.szPassword, sizeof p.szPassword, pass);
    return p;
  }

  // An asynchronous dial with the type-2 notifier, waited for to its end.
  DWORD DialAndWait(const char* user, const char* pass, HRASCONN* h) {
    RASDIALPARAMSA p = Params("VelaVPN", user, pass);
    p.dwCallbackId = 77;
    *h = nullptr;
    DWORD err = g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), h);
    if (err) return err;
    EXPECT_TRUE(g_rec.WaitEnd());
    return 0;
  }

  std::vector<HRASCONN> Connections(std::vector<std::string>* names = nullptr) {
    std::vector<RASCONNA> conns(40);
    conns[0].dwSize = sizeof(RASCONNA);
    DWORD size = static_cast<DWORD>(conns.size() * sizeof(RASCONNA));
    DWORD count = 0;
    EXPECT_EQ(g_ras.EnumConnections(conns.data(), &size, &count), 0u);
    std::vector<HRASCONN> out;
    for (DWORD i = 0; i < count; ++i) {
      out.push_back(conns[i].hrasconn);
      if (names) names->push_back(conns[i].szEntryName);
    }
    return out;
  }

  std::string ClientIp(HRASCONN h, std::string* server = nullptr) {
    RASPPPIPA ip;
    std::memset(&ip, 0, sizeof ip);
    ip.dwSize = sizeof ip;
    DWORD size = sizeof ip;
    DWORD err = g_ras.Projection(h, RASP_PppIp, &ip, &size);
    if (err) return Format("error %lu", static_cast<unsigned long>(err));
    if (server) *server = ip.szServerIpAddress;
    return ip.szIpAddress;
  }

  DWORD StatusOf(HRASCONN h, RASCONNSTATUSA* status) {
    std::memset(status, 0, sizeof *status);
    status->dwSize = sizeof *status;
    return g_ras.Status(h, status);
  }

  std::string ReadText(const std::string& path) {
    std::string text;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return text;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
    CloseHandle(f);
    return text;
  }

  // Runs the stand-in command with the given arguments; returns its exit code.
  DWORD RunRasdial(const std::string& args, std::string* output) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return 0xFFFFFFFF;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string cmd = "\"" + ExeDir() + "rasdial.exe\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!ok) {
      CloseHandle(readEnd);
      return 0xFFFFFFFF;
    }
    char buf[512];
    DWORD got = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got) output->append(buf, got);
    CloseHandle(readEnd);
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
  }

  CAuthResponder m_web;
  std::string m_dir;
  std::string m_pbk;
};

// ---------------------------------------------------------------------------------------
// Phonebook entries.

TEST_F(DialupTest, EntryIsWrittenInThePhonebookFormatAndReadBack) {
  ASSERT_EQ(WriteEntry(m_pbk, "Other", "10.0.0.9"), 0u);
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "old.example.net"), 0u);
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "vpn1.example.net"), 0u);

  std::string text = ReadText(m_pbk);
  for (const char* line : {"[VelaVPN]\r\n", "Type=2\r\n", "VpnStrategy=2\r\n", "BaseProtocol=1\r\n",
                           "ExcludedProtocols=0\r\n", "IpPrioritizeRemote=0\r\n",
                           "RedialAttempts=3\r\n", "Device=RAS VPN Line 0\r\n", "DEVICE=vpn\r\n",
                           "PhoneNumber=vpn1.example.net\r\n", "[Other]\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("old.example.net"), std::string::npos);
  EXPECT_EQ(text.find("[VelaVPN]"), text.rfind("[VelaVPN]"));

  RASENTRYA e;
  e.dwSize = sizeof e;
  DWORD size = sizeof e;
  ASSERT_EQ(g_ras.GetEntry(m_pbk.c_str(), "velavpn", &e, &size, nullptr, nullptr), 0u);
  EXPECT_STREQ(e.szLocalPhoneNumber, "vpn1.example.net");
  EXPECT_EQ(e.dwfOptions, 0u);
  EXPECT_EQ(e.dwfNetProtocols, 7u);
  EXPECT_EQ(e.dwFramingProtocol, 1u);
  EXPECT_STREQ(e.szDeviceType, "vpn");
  EXPECT_STREQ(e.szDeviceName, "RAS VPN Line 0");
  EXPECT_EQ(e.dwType, 2u);
  EXPECT_EQ(e.dwVpnStrategy, 2u);
  EXPECT_EQ(e.dwRedialCount, 3u);

  std::vector<RASENTRYNAMEA> names(4);
  names[0].dwSize = sizeof(RASENTRYNAMEA);
  DWORD bytes = sizeof(RASENTRYNAMEA);
  DWORD count = 0;
  EXPECT_EQ(g_ras.EnumEntries(nullptr, m_pbk.c_str(), names.data(), &bytes, &count),
            static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(bytes, 2 * sizeof(RASENTRYNAMEA));
  ASSERT_EQ(g_ras.EnumEntries(nullptr, m_pbk.c_str(), names.data(), &bytes, &count), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(names[0].szEntryName, "Other");
  EXPECT_STREQ(names[1].szEntryName, "VelaVPN");

  EXPECT_EQ(g_ras.DeleteEntry(m_pbk.c_str(), "Other"), 0u);
  EXPECT_EQ(g_ras.DeleteEntry(m_pbk.c_str(), "Other"),
            static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  size = sizeof e;
  EXPECT_EQ(g_ras.GetEntry(m_pbk.c_str(), "Other", &e, &size, nullptr, nullptr),
            static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  EXPECT_EQ(g_ras.GetEntry(m_pbk.c_str(), "VelaVPN", &e, &size, nullptr, nullptr), 0u);
}

TEST_F(DialupTest, ShippedPhonebookHoldsTheEntryTheXpBuildWrites) {
  // The Windows 7 build dials through this file and never writes it: it must describe the
  // same tunnel, above all one that is not the default route.
  RASENTRYA e;
  e.dwSize = sizeof e;
  DWORD size = sizeof e;
  ASSERT_EQ(g_ras.GetEntry(SHIPPED_PHONEBOOK, "VelaVPN", &e, &size, nullptr, nullptr), 0u);
  EXPECT_EQ(e.dwfOptions, 0u);
  EXPECT_EQ(e.dwfNetProtocols, 7u);
  EXPECT_EQ(e.dwFramingProtocol, 1u);
  EXPECT_STREQ(e.szDeviceType, "vpn");
  EXPECT_STREQ(e.szDeviceName, "RAS VPN Line 0");
  EXPECT_EQ(e.dwType, 2u);
  EXPECT_EQ(e.dwVpnStrategy, 2u);
  EXPECT_EQ(e.dwRedialCount, 3u);
  EXPECT_EQ(e.dwRedialPause, 0u);
  EXPECT_EQ(e.dwEncryptionType, 0u);
  EXPECT_STREQ(e.szLocalPhoneNumber, "");  // the dial command names the line's host
  std::string text = ReadText(SHIPPED_PHONEBOOK);
  EXPECT_NE(text.find("IpPrioritizeRemote=0\r\n"), std::string::npos);
}

TEST_F(DialupTest, EntryCallsRefuseBadSizesNamesAndSmallBuffers) {
  RASENTRYA e;
  std::memset(&e, 0, sizeof e);
  e.dwSize = sizeof e + 4;
  EXPECT_EQ(g_ras.SetEntry(m_pbk.c_str(), "VelaVPN", &e, sizeof e + 4, nullptr, 0),
            static_cast<DWORD>(ERROR_INVALID_SIZE));
  e.dwSize = sizeof e;
  EXPECT_EQ(g_ras.SetEntry(m_pbk.c_str(), "Bad]Name", &e, sizeof e, nullptr, 0),
            static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(g_ras.SetEntry(m_pbk.c_str(), "Line\r\n[Injected]", &e, sizeof e, nullptr, 0),
            static_cast<DWORD>(ERROR_INVALID_NAME));

  DWORD size = 100;
  EXPECT_EQ(g_ras.GetEntry(m_pbk.c_str(), "VelaVPN", &e, &size, nullptr, nullptr),
            static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(size, sizeof(RASENTRYA));
  EXPECT_EQ(g_ras.GetEntry(m_pbk.c_str(), "VelaVPN", &e, &size, nullptr, nullptr),
            static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));  // no file at all

  // A line end inside a value must not start a section of its own.
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "host\r\n[Evil]"), 0u);
  std::vector<PbkSection> sections = ParsePhonebook(ReadText(m_pbk));
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(*sections[0].Find("PhoneNumber"), "host");
}

TEST(PhonebookText, ReadsFilesWrittenByOtherTools) {
  std::string text =
      "\xEF\xBB\xBF; comment\n[VelaVPN]\nEncoding=1\nType=2\n\nMEDIA=rastapi\nPort=VPN2-0\n"
      "Device=WAN Miniport (PPTP)\n\nDEVICE=vpn\nPhoneNumber=1.2.3.4\r\n[\xB2\xE2\xCA\xD4]\n"
      "PhoneNumber=a=b\nnot a key\n";
  std::vector<PbkSection> s = ParsePhonebook(text);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].name, "VelaVPN");
  EXPECT_EQ(*s[0].Find("Device"), "WAN Miniport (PPTP)");
  EXPECT_EQ(*s[0].Find("DEVICE"), "vpn");
  EXPECT_EQ(*s[0].Find("PhoneNumber"), "1.2.3.4");
  EXPECT_EQ(*s[1].Find("PhoneNumber"), "a=b");
  EXPECT_TRUE(PbkNameEquals("VELAvpn", "VelaVPN"));
  // Trail bytes are not letters: 0x81 0x41 and 0x81 0x61 are two different characters.
  EXPECT_FALSE(PbkNameEquals("\x81\x41", "\x81\x61"));
}

// ---------------------------------------------------------------------------------------
// Dialing.

TEST_F(DialupTest, DialWalksTheProgressStatesAndRegistersTheConnection) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  HRASCONN h;
  ASSERT_EQ(DialAndWait("alice", "s3cret", &h), 0u);
  ASSERT_NE(h, nullptr);

  std::vector<DWORD> expected = {RASCS_OpenPort,      RASCS_PortOpened,          RASCS_ConnectDevice,
                                 RASCS_DeviceConnected, RASCS_AllDevicesConnected, RASCS_Authenticate,
                                 RASCS_AuthNotify,    RASCS_AuthProject,         RASCS_Authenticated,
                                 RASCS_Connected};
  EXPECT_EQ(g_rec.States(), expected);
  for (const DialEvent& e : g_rec.events) {
    EXPECT_EQ(e.callbackId, 77u);
    EXPECT_EQ(e.conn, h);
    EXPECT_EQ(e.msg, static_cast<UINT>(WM_RASDIALEVENT));
    EXPECT_EQ(e.error, 0u);
  }
  std::string server;
  std::string ip = ClientIp(h, &server);
  EXPECT_EQ(ip.compare(0, 7, "10.8.0."), 0) << ip;
  EXPECT_EQ(server, "10.8.0.1");
  // The tunnel interface was asked for before the connection was reported up.
  EXPECT_EQ(m_web.Targets(), (std::vector<std::string>{"/vpn_auth.php?user=alice&pass=s3cret",
                                                       "/_tunnel?up=" + ip + "&server=10.8.0.1"}));
  RASCONNSTATUSA status;
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.rasconnstate, RASCS_Connected);
  EXPECT_STREQ(status.szPhoneNumber, "127.0.0.1");

  // A connected entry is handed back, not dialed twice; another entry gets the next address.
  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  HRASCONN again = nullptr;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &again), 0u);
  EXPECT_EQ(again, h);
  ASSERT_EQ(WriteEntry(m_pbk, "Second", "127.0.0.1"), 0u);
  p = Params("Second", "alice", "s3cret");
  HRASCONN second = nullptr;
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &second), 0u);
  std::string ip2 = ClientIp(second);
  EXPECT_NE(ip2, ip);
  EXPECT_EQ(ip2.compare(0, 7, "10.8.0."), 0) << ip2;

  EXPECT_EQ(g_ras.HangUp(h), 0u);
  EXPECT_EQ(StatusOf(h, &status), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(g_ras.HangUp(h), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  std::vector<std::string> names;
  Connections(&names);
  EXPECT_EQ(names, std::vector<std::string>{"Second"});
  EXPECT_EQ(m_web.NetTargets(), (std::vector<std::string>{
                                    "/_tunnel?up=" + ip + "&server=10.8.0.1",
                                    "/_tunnel?up=" + ip2 + "&server=10.8.0.1",
                                    "/_tunnel?down=" + ip}));
}

TEST_F(DialupTest, TunnelInterfaceIsAskedForOnlyWhereTheSimulatedNetworkRuns) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  HRASCONN h = nullptr;

  // The failure path of the route job: the connection reports an address no interface has.
  SetEnvironmentVariableA("ACCEL_DIALUP_NO_INTERFACE", "yes");
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h), 0u);
  EXPECT_EQ(ClientIp(h).compare(0, 7, "10.8.0."), 0);
  EXPECT_EQ(g_ras.HangUp(h), 0u);
  EXPECT_TRUE(m_web.NetTargets().empty());

  // "0" is off; a stand-in without the simulated network (404) changes nothing for the
  // dial, and its hang-up asks for no removal.
  SetEnvironmentVariableA("ACCEL_DIALUP_NO_INTERFACE", "0");
  m_web.SetNetwork(false);
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h), 0u);
  std::string ip = ClientIp(h);
  EXPECT_EQ(ip.compare(0, 7, "10.8.0."), 0);
  EXPECT_EQ(g_ras.HangUp(h), 0u);
  EXPECT_EQ(m_web.NetTargets(), std::vector<std::string>{"/_tunnel?up=" + ip + "&server=10.8.0.1"});
}

TEST_F(DialupTest, DialParametersOfXpAndWindows7CallersAreAccepted) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  HRASCONN h = nullptr;
  DialParams601 p7;
  std::memset(&p7, 0, sizeof p7);
  p7.xp = Params("VelaVPN", "alice", "s3cret");
  p7.xp.dwSize = sizeof p7;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p7.xp, 0, nullptr, &h), 0u);  // synchronous
  EXPECT_EQ(ClientIp(h).compare(0, 7, "10.8.0."), 0);
  g_ras.HangUp(h);

  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  p.dwSize = sizeof p + 8;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h),
            static_cast<DWORD>(ERROR_INVALID_SIZE));
  p.dwSize = sizeof p;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h), 0u);
}

TEST_F(DialupTest, DialFailuresArriveAtTheirStates) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  HRASCONN h;

  ASSERT_EQ(DialAndWait("alice", "wrong", &h), 0u);
  EXPECT_EQ(g_rec.Last().state, static_cast<DWORD>(RASCS_Authenticate));
  EXPECT_EQ(g_rec.Last().error, static_cast<DWORD>(ERROR_AUTHENTICATION_FAILURE));
  RASCONNSTATUSA status;
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.dwError, static_cast<DWORD>(ERROR_AUTHENTICATION_FAILURE));
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(ClientIp(h), "error 730");
  g_ras.HangUp(h);

  // The stand-in is not there: a closed loopback port.
  SetEnvironmentVariableA("ACCEL_STUB_WEB_PORT", "1");
  g_rec.Clear();
  ASSERT_EQ(DialAndWait("alice", "s3cret", &h), 0u);
  EXPECT_EQ(g_rec.States(), (std::vector<DWORD>{0, 1, 2}));
  EXPECT_EQ(g_rec.Last().error, static_cast<DWORD>(ERROR_NO_ANSWER));
  g_ras.HangUp(h);

  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", ""), 0u);
  g_rec.Clear();
  ASSERT_EQ(DialAndWait("alice", "s3cret", &h), 0u);
  EXPECT_EQ(g_rec.Last().state, static_cast<DWORD>(RASCS_ConnectDevice));
  EXPECT_EQ(g_rec.Last().error, 868u);
  g_ras.HangUp(h);

  RASDIALPARAMSA p = Params("NoSuchEntry", "alice", "s3cret");
  h = nullptr;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), &h),
            static_cast<DWORD>(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY));
  EXPECT_EQ(h, nullptr);
}

TEST_F(DialupTest, ForcedFailuresAndASecondDialOfTheSameEntry) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  HRASCONN h = nullptr;
  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  SetEnvironmentVariableA("ACCEL_DIALUP_FAIL", "756");
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), &h),
            static_cast<DWORD>(ERROR_DIAL_ALREADY_IN_PROGRESS));
  SetEnvironmentVariableA("ACCEL_DIALUP_FAIL", "800");
  ASSERT_EQ(DialAndWait("alice", "s3cret", &h), 0u);
  EXPECT_EQ(g_rec.Last().state, static_cast<DWORD>(RASCS_ConnectDevice));
  EXPECT_EQ(g_rec.Last().error, 800u);
  g_ras.HangUp(h);
  SetEnvironmentVariableA("ACCEL_DIALUP_FAIL", nullptr);

  // While an entry is being dialed, dialing it again is refused; the same entry in another
  // phonebook file is another connection (the XP build retries that way).
  SetEnvironmentVariableA("ACCEL_DIALUP_DELAY_MS", "300");
  g_rec.Clear();
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), &h), 0u);
  HRASCONN h2 = nullptr;
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), &h2),
            static_cast<DWORD>(ERROR_DIAL_ALREADY_IN_PROGRESS));
  SetEnvironmentVariableA("ACCEL_DIALUP_DELAY_MS", "2");  // read when a dial starts
  std::string pbk2 = m_dir + "\\velanet_2.pbk";
  ASSERT_EQ(WriteEntry(pbk2, "VelaVPN", "127.0.0.1"), 0u);
  EXPECT_EQ(g_ras.Dial(nullptr, pbk2.c_str(), &p, 0, nullptr, &h2), 0u);
  EXPECT_NE(h2, h);

  // Hanging up in the middle of the dial ends its notifications; the handle goes invalid
  // once the configured hang-up time has passed.
  SetEnvironmentVariableA("ACCEL_DIALUP_HANGUP_MS", "400");
  EXPECT_EQ(g_ras.HangUp(h), 0u);
  size_t heard = g_rec.States().size();
  RASCONNSTATUSA status;
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.rasconnstate, RASCS_Disconnected);
  Sleep(700);
  EXPECT_EQ(StatusOf(h, &status), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_LE(g_rec.States().size(), heard + 1);  // at most one state already under way
  EXPECT_NE(g_rec.States().back(), static_cast<DWORD>(RASCS_Connected));
}

TEST_F(DialupTest, ADialThatNeverComesUpWaitsWithoutAnErrorUntilHungUp) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  SetEnvironmentVariableA("ACCEL_DIALUP_NEVER_UP", "1");
  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  HRASCONN h = nullptr;
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 2, reinterpret_cast<LPVOID>(&OnDial), &h), 0u);
  Sleep(800);
  EXPECT_EQ(g_rec.States(), (std::vector<DWORD>{0, 1, 2}));
  EXPECT_EQ(g_rec.Last().error, 0u);
  RASCONNSTATUSA status;
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.rasconnstate, RASCS_ConnectDevice);
  EXPECT_EQ(status.dwError, 0u);
  EXPECT_EQ(Connections().size(), 1u);  // listed while it is being dialed
  EXPECT_EQ(ClientIp(h), "error 730");

  EXPECT_EQ(g_ras.HangUp(h), 0u);
  Sleep(200);
  EXPECT_EQ(g_rec.States().size(), 3u);
  EXPECT_EQ(StatusOf(h, &status), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(Connections().empty());
}

TEST_F(DialupTest, ADroppedConnectionLeavesTheListAndShowsTheDisconnection) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  SetEnvironmentVariableA("ACCEL_DIALUP_DROP_MS", "400");
  HRASCONN h;
  ASSERT_EQ(DialAndWait("alice", "s3cret", &h), 0u);
  ASSERT_EQ(g_rec.Last().state, static_cast<DWORD>(RASCS_Connected));
  EXPECT_EQ(Connections().size(), 1u);
  RASCONNSTATUSA status;
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.rasconnstate, RASCS_Connected);

  std::string ip = ClientIp(h);
  EXPECT_EQ(m_web.NetTargets(),
            std::vector<std::string>{"/_tunnel?up=" + ip + "&server=10.8.0.1&drop_ms=400"});

  Sleep(700);
  // Seen by every caller that looks, with no notification: the dial's notifications ended
  // when it came up.
  EXPECT_TRUE(Connections().empty());
  ASSERT_EQ(StatusOf(h, &status), 0u);
  EXPECT_EQ(status.rasconnstate, RASCS_Disconnected);
  EXPECT_EQ(status.dwError, static_cast<DWORD>(ERROR_REMOTE_DISCONNECTION));
  EXPECT_EQ(g_rec.States().back(), static_cast<DWORD>(RASCS_Connected));
  // The entry can be dialed afresh; the handle of the dead link is hung up as usual.
  SetEnvironmentVariableA("ACCEL_DIALUP_DROP_MS", nullptr);
  HRASCONN again = nullptr;
  ASSERT_EQ(DialAndWait("alice", "s3cret", &again), 0u);
  EXPECT_NE(again, h);
  EXPECT_EQ(g_ras.HangUp(h), 0u);
  EXPECT_EQ(Connections().size(), 1u);
  // The stand-in removed the dropped line's interface itself; asking again does no harm.
  EXPECT_EQ(m_web.NetTargets().back(), "/_tunnel?down=" + ip);
}

TEST_F(DialupTest, ConnectionListFollowsTheBufferContract) {
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", "127.0.0.1"), 0u);
  ASSERT_EQ(WriteEntry(m_pbk, "Second", "127.0.0.1"), 0u);
  HRASCONN h1 = nullptr, h2 = nullptr;
  RASDIALPARAMSA p = Params("VelaVPN", "alice", "s3cret");
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h1), 0u);
  p = Params("Second", "alice", "s3cret");
  ASSERT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h2), 0u);

  // The Windows 7 layout, as the W7 build asks: one entry's room for two connections.
  std::vector<Conn601> conns(2);
  conns[0].xp.dwSize = sizeof(Conn601);
  DWORD size = sizeof(Conn601);
  DWORD count = 0;
  EXPECT_EQ(g_ras.EnumConnections(&conns[0].xp, &size, &count),
            static_cast<DWORD>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(size, 2 * sizeof(Conn601));
  ASSERT_EQ(g_ras.EnumConnections(&conns[0].xp, &size, &count), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_STREQ(conns[0].xp.szEntryName, "VelaVPN");
  EXPECT_EQ(conns[0].xp.hrasconn, h1);
  EXPECT_STREQ(conns[1].xp.szEntryName, "Second");
  EXPECT_EQ(conns[1].xp.hrasconn, h2);
  EXPECT_EQ(conns[1].xp.dwSize, sizeof(Conn601));
  EXPECT_EQ(lstrcmpiA(conns[1].xp.szPhonebook, m_pbk.c_str()), 0);

  conns[0].xp.dwSize = sizeof(Conn601) + 4;
  size = 2 * sizeof(Conn601);
  EXPECT_EQ(g_ras.EnumConnections(&conns[0].xp, &size, &count),
            static_cast<DWORD>(ERROR_INVALID_SIZE));

  // A state file that is not ours reads as an empty table, and is then replaced.
  HANDLE f = CreateFileA((m_dir + "\\state.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(f, "garbage", 7, &written, nullptr);
  CloseHandle(f);
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(g_ras.Dial(nullptr, m_pbk.c_str(), &p, 0, nullptr, &h2), 0u);
  EXPECT_EQ(Connections().size(), 1u);
}

TEST_F(DialupTest, ErrorTextsAreBoundedToTheCallersBuffer) {
  char text[1024];
  ASSERT_EQ(g_ras.ErrorString(691, text, sizeof text), 0u);
  EXPECT_STREQ(text,
               "Access was denied because the username and/or password was invalid on the domain.");
  ASSERT_EQ(g_ras.ErrorString(12345, text, sizeof text), 0u);
  EXPECT_STREQ(text, "Remote Access error 12345.");
  std::memset(text, 'Z', sizeof text);
  EXPECT_EQ(g_ras.ErrorString(623, text, 8), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(text[7], '\0');
  EXPECT_EQ(text[8], 'Z');
}

// ---------------------------------------------------------------------------------------
// The stand-in command, in a process of its own.

TEST_F(DialupTest, RasdialConnectionOutlivesTheCommandAndIsHungUpByName) {
  // Dialed the way the W7 build dials: the entry's number empty, the host on the command line.
  ASSERT_EQ(WriteEntry(m_pbk, "VelaVPN", ""), 0u);
  std::string out;
  std::string args = "VelaVPN alice s3cret /phone:127.0.0.1 /phonebook:\"" + m_pbk + "\"";
  EXPECT_EQ(RunRasdial(args, &out), 0u) << out;
  EXPECT_NE(out.find("Connecting to VelaVPN...\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Successfully connected to VelaVPN.\r\n"), std::string::npos) << out;

  std::vector<std::string> names;
  std::vector<HRASCONN> conns = Connections(&names);
  ASSERT_EQ(names, std::vector<std::string>{"VelaVPN"});
  std::string ip = ClientIp(conns[0]);
  EXPECT_EQ(ip.compare(0, 7, "10.8.0."), 0);

  out.clear();
  EXPECT_EQ(RunRasdial(args, &out), 0u);
  EXPECT_NE(out.find("You are already connected to VelaVPN."), std::string::npos) << out;

  out.clear();
  EXPECT_EQ(RunRasdial("VelaVPN /DISCONNECT", &out), 0u) << out;
  EXPECT_TRUE(Connections().empty());
  EXPECT_EQ(m_web.NetTargets(), (std::vector<std::string>{"/_tunnel?up=" + ip + "&server=10.8.0.1",
                                                          "/_tunnel?down=" + ip}));
  out.clear();
  EXPECT_EQ(RunRasdial("VelaVPN /DISCONNECT", &out), static_cast<DWORD>(ERROR_NO_CONNECTION));

  // A password with a blank and a quote, quoted the way the W7 build quotes it.
  out.clear();
  std::string password;
  ASSERT_TRUE(QuoteCommandArg("s3 \"x", &password));
  args = "VelaVPN alice " + password + " /phone:127.0.0.1 /phonebook:\"" + m_pbk + "\"";
  EXPECT_EQ(RunRasdial(args, &out), static_cast<DWORD>(ERROR_AUTHENTICATION_FAILURE));
  EXPECT_NE(out.find("Remote Access error 691 - Access was denied"), std::string::npos) << out;
  EXPECT_EQ(m_web.Targets().back(), "/vpn_auth.php?user=alice&pass=s3%20%22x");
  EXPECT_TRUE(Connections().empty());
}

// ---------------------------------------------------------------------------------------
// The stand-in iphlpapi.dll of the simulated network, laid out as a run lays it beside the
// client: the stand-in, and Wine's own library beside it as iphlpwine.dll.

TEST_F(DialupTest, StandInIphlpapiForwardsToWineAndAsksTheStandInForRoutes) {
  char system[MAX_PATH];
  UINT n = GetSystemDirectoryA(system, sizeof system);
  ASSERT_TRUE(n > 0 && n < sizeof system);
  std::string dll = m_dir + "\\iphlpapi.dll";
  ASSERT_TRUE(CopyFileA(NETSIM_IPHLPAPI, dll.c_str(), FALSE)) << NETSIM_IPHLPAPI;
  ASSERT_TRUE(CopyFileA((std::string(system) + "\\iphlpapi.dll").c_str(),
                        (m_dir + "\\iphlpwine.dll").c_str(), FALSE));
  // In a run the client imports the stand-in, and the loader finds iphlpwine.dll for the
  // forwarders in the program's folder. A forwarder met through GetProcAddress, as here, Wine
  // 8 resolves only against a library already loaded: load it the way the loader would.
  HMODULE wine = LoadLibraryA((m_dir + "\\iphlpwine.dll").c_str());
  ASSERT_NE(wine, nullptr);
  HMODULE stand = LoadLibraryA(dll.c_str());
  ASSERT_NE(stand, nullptr);
  char loaded[MAX_PATH];
  GetModuleFileNameA(stand, loaded, sizeof loaded);
  EXPECT_EQ(lstrcmpiA(loaded, dll.c_str()), 0)
      << "Wine loaded " << loaded << ": run with WINEDLLOVERRIDES=iphlpapi=n,b";

  // What the shipping programs import besides CreateIpForwardEntry is Wine's own code.
  auto getTable = reinterpret_cast<decltype(&GetIpForwardTable)>(
      reinterpret_cast<void*>(GetProcAddress(stand, "GetIpForwardTable")));
  auto getIf = reinterpret_cast<decltype(&GetIfEntry)>(
      reinterpret_cast<void*>(GetProcAddress(stand, "GetIfEntry")));
  for (const char* name : {"GetIpForwardTable", "GetIfEntry", "GetNetworkParams",
                           "GetExtendedTcpTable", "GetAdaptersInfo"}) {
    FARPROC f = GetProcAddress(stand, name);
    EXPECT_NE(f, nullptr) << name;
    EXPECT_EQ(f, GetProcAddress(wine, name)) << name;
  }
  ASSERT_TRUE(getTable && getIf);
  ULONG size = 0;
  EXPECT_EQ(getTable(nullptr, &size, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buf(size + 256);
  size = static_cast<ULONG>(buf.size());
  EXPECT_EQ(getTable(reinterpret_cast<PMIB_IPFORWARDTABLE>(buf.data()), &size, TRUE), 0u);
  MIB_IFROW ifRow = {};
  ifRow.dwIndex = 1;  // the kernel's loopback
  EXPECT_EQ(getIf(&ifRow), 0u);
  EXPECT_EQ(ifRow.dwType, static_cast<DWORD>(MIB_IF_TYPE_LOOPBACK));

  auto create = reinterpret_cast<decltype(&CreateIpForwardEntry)>(
      reinterpret_cast<void*>(GetProcAddress(stand, "CreateIpForwardEntry")));
  ASSERT_NE(create, nullptr);
  EXPECT_NE(create, reinterpret_cast<decltype(create)>(
                        reinterpret_cast<void*>(GetProcAddress(wine, "CreateIpForwardEntry"))));
  MIB_IPFORWARDROW row = {};
  row.dwForwardDest = inet_addr("192.0.2.0");
  row.dwForwardMask = inet_addr("255.255.255.0");
  row.dwForwardNextHop = inet_addr("10.8.0.2");
  row.dwForwardIfIndex = 7;
  row.dwForwardMetric1 = 20;
  row.dwForwardType = 4;
  row.dwForwardProto = 3;
  const std::string query =
      "/_route?dest=192.0.2.0&mask=255.255.255.0&nexthop=10.8.0.2&ifindex=7&metric=20";
  m_web.SetNetwork(true, "5010");
  EXPECT_EQ(create(&row), 5010u);
  m_web.SetNetwork(true, "0\r\n");
  EXPECT_EQ(create(&row), 0u);
  EXPECT_EQ(m_web.NetTargets(), (std::vector<std::string>{query, query}));
  m_web.SetNetwork(true, "5010 exists");
  EXPECT_EQ(create(&row), static_cast<DWORD>(ERROR_GEN_FAILURE));
  m_web.SetNetwork(false);
  EXPECT_EQ(create(&row), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(create(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetEnvironmentVariableA("ACCEL_STUB_WEB_PORT", "1");  // no stand-in at all
  EXPECT_EQ(create(&row), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_EQ(m_web.NetTargets().size(), 4u);

  FreeLibrary(stand);
  FreeLibrary(wine);
}

TEST(CommandLine, SplitsByTheWindowsRules) {
  std::vector<std::string> a = SplitCommandLine(
      "C:\\dir\\rasdial.exe VelaVPN \"a b\" c\\\"d e\\\\\\\"f \"g\\\\\" h\\\\i \"j\"\"k\"\t l");
  EXPECT_EQ(a, (std::vector<std::string>{"C:\\dir\\rasdial.exe", "VelaVPN", "a b", "c\"d",
                                         "e\\\"f", "g\\", "h\\\\i", "j\"k", "l"}));
  a = SplitCommandLine("\"C:\\Program Files\\x.exe\"  /phonebook:\"C:\\a b\\c.pbk\"  ");
  EXPECT_EQ(a, (std::vector<std::string>{"C:\\Program Files\\x.exe", "/phonebook:C:\\a b\\c.pbk"}));

  // GBK: the trail byte of 0xB1 0x5C is no backslash, so the quote after it closes.
  a = SplitCommandLine("x \"\xB1\x5C\" \xB2\xE2");
  EXPECT_EQ(a, (std::vector<std::string>{"x", "\xB1\x5C", "\xB2\xE2"}));

  for (std::string s : {std::string(""), std::string("a\\"), std::string("\"\\\"\\\\"),
                        std::string("p w\t\"q\""), std::string("\xD6\x5C\"\xB1\x5C\\")}) {
    std::string quoted;
    ASSERT_TRUE(QuoteCommandArg(s, &quoted));
    a = SplitCommandLine(("prog " + quoted).c_str());
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[1], s);
  }
  // A lone lead byte swallows the backslash that would escape a quote after it: the rest
  // of the value becomes arguments of its own. Such a value is refused, never quoted.
  a = SplitCommandLine("prog \"p\x81\\\" /phone:x\"");
  EXPECT_EQ(a.size(), 3u);
  std::string quoted = "none";
  EXPECT_FALSE(QuoteCommandArg("p\x81\" /phone:x", &quoted));
  EXPECT_EQ(quoted, "none");
}

}  // namespace
