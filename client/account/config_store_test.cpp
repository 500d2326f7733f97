// The configuration store, built in a program directory of its own with a copy of
// accelclient.exe and a service.ini that points at the local service stand-in.
#include "client/account/config_store.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <string>

#include <gtest/gtest.h>

#include "client/test_support/stub_client.h"
#include "common/run_log.h"
#include "common/text_format.h"

namespace {

using namespace testing_support;

// "操作系统版本：" and "Vela网游加速器" in GBK, spelled out so that the comparison does not
// depend on how this file was compiled.
const char kOsVersionLabel[] = "\xB2\xD9\xD7\xF7\xCF\xB5\xCD\xB3\xB0\xE6\xB1\xBE\xA3\xBA";
const char kProductName[] = "\x56\x65\x6C\x61\xCD\xF8\xD3\xCE\xBC\xD3\xCB\xD9\xC6\xF7";

const char kStandIn[] = "[Service]\r\nClientHost=127.0.0.1\r\nWebHost=127.0.0.1\r\n";
// Nothing listens on this loopback address: the service is down.
const char kServiceDown[] = "[Service]\r\nClientHost=127.0.0.2\r\n";

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("store");
    ASSERT_FALSE(dir_.empty());
    exe_ = dir_ + "\\accelclient.exe";
    std::string built = EnvPath("ACCELCLIENT_EXE");
    ASSERT_FALSE(built.empty()) << "ACCELCLIENT_EXE is not set";
    ASSERT_TRUE(CopyFileA(built.c_str(), exe_.c_str(), FALSE)) << built;
  }

  void UseService(const char* ini) { ASSERT_TRUE(WriteFileBytes(dir_ + "\\service.ini", ini)); }
  std::string Cache(const char* name) const { return dir_ + "\\Cache\\" + name; }
  void PutCache(const char* name, const std::string& bytes) {
    CreateDirectoryA((dir_ + "\\Cache").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(Cache(name), bytes));
  }
  std::string CacheText(const char* name) const {
    std::string bytes;
    ReadFileBytes(Cache(name), &bytes);
    return bytes;
  }
  std::string IniValue(const char* key) const {
    char buf[256];
    GetPrivateProfileStringA("User", key, "<absent>", buf, sizeof buf, Cache("user.ini").c_str());
    return buf;
  }
  std::string Served(const char* path) {
    std::string body;
    EXPECT_EQ(200, HttpRequest(kStubListPort, "GET", path, "", &body));
    return body;
  }

  std::string dir_;
  std::string exe_;
};

// --- construction ---------------------------------------------------------------------

TEST_F(StoreTest, ConstructionFetchesTheListsIntoCache) {
  UseService(kStandIn);
  CConfigStore store(exe_);
  EXPECT_STREQ(dir_.c_str(), store.ProgramDir());
  EXPECT_EQ(Served("/servers2.0.php"), CacheText("servers.xml"));
  EXPECT_EQ(Served("/server_group.php"), CacheText("groups.xml"));
  EXPECT_FALSE(FileExists(Cache("servers.xml.tmp")));
  EXPECT_FALSE(FileExists(Cache("groups.xml.tmp")));
  // The stand-in's sample lists hold lines, games and login servers.
  EXPECT_GT(store.m_lines.Count(), 0u);
  EXPECT_FALSE(store.m_games.empty());
  ASSERT_FALSE(store.m_loginServers.empty());
  EXPECT_NE(0, store.m_loginServers[0].m_port);
}

TEST_F(StoreTest, LogPathAndWindowsVersionLine) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  EXPECT_EQ(dir_ + "\\Cache\\velavpn.log", CRunLog::GetPath());
  OSVERSIONINFOA os = {};
  os.dwOSVersionInfoSize = sizeof os;
  ASSERT_TRUE(GetVersionExA(&os));
  EXPECT_EQ(os.dwMajorVersion, store.m_osVersion.dwMajorVersion);
  EXPECT_EQ(os.dwMinorVersion, store.m_osVersion.dwMinorVersion);
  std::string expected = std::string(kOsVersionLabel) +
                         Format("%d.%d %s\r\n", static_cast<int>(os.dwMajorVersion),
                                static_cast<int>(os.dwMinorVersion), os.szCSDVersion);
  std::string log = CacheText("velavpn.log");
  // One record: "[yyyy/mm/dd hh:mm:ss.mmm] " and the line.
  ASSERT_EQ(26 + expected.size(), log.size()) << log;
  EXPECT_EQ('[', log[0]);
  EXPECT_EQ("] ", log.substr(24, 2));
  EXPECT_EQ(expected, log.substr(26));
}

TEST_F(StoreTest, CachePathRule) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  EXPECT_EQ(dir_ + "\\Cache\\route.xml", store.CachePath("route.xml"));
  // A path that does not fit the 500-byte rule is refused, not cut into another name.
  EXPECT_EQ("", store.CachePath(std::string(500, 'a').c_str()));
}

TEST_F(StoreTest, UnknownProgramFolderMeansNoLocalFilesAtAll) {
  // The program's own path could not be had: nothing falls back on the current directory,
  // where a planted service.ini or library would be taken.
  UseService(kStandIn);
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof cwd, cwd);
  SetCurrentDirectoryA(dir_.c_str());
  {
    CConfigStore store("accelclient.exe");
    EXPECT_STREQ("", store.ProgramDir());
    EXPECT_EQ("", store.CachePath("servers.xml"));
    EXPECT_EQ(DefaultServiceHosts().client, store.Hosts().client);
  }
  SetCurrentDirectoryA(cwd);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Cache("servers.xml").c_str()));
}

TEST_F(StoreTest, ServiceIniPointsTheAddressesAtItsHosts) {
  UseService(kStandIn);
  CConfigStore store(exe_);
  EXPECT_EQ("127.0.0.1", store.Hosts().client);
  EXPECT_EQ("http://127.0.0.1:8080/route.php", store.ListUrl("/route.php"));
  EXPECT_EQ("http://127.0.0.1/error.php", store.m_errorUrl);
  EXPECT_EQ("http://127.0.0.1", store.m_siteUrl);
  EXPECT_EQ("http://127.0.0.1/accelclient.rar", store.m_updateUrl);
  // Not named in service.ini: the compiled-in forum host.
  EXPECT_EQ("http://" + DefaultServiceHosts().forum + "/register.php", store.m_registerUrl);
}

TEST(ServiceHosts, DefaultsUnderTheExampleDomainAndRefusedValues) {
  ServiceHosts defaults = DefaultServiceHosts();
  for (const std::string* host : {&defaults.client, &defaults.web, &defaults.forum, &defaults.login})
    EXPECT_EQ(".example", host->substr(host->size() - 8)) << *host;

  std::string dir = MakeTempDir("hosts");
  std::string ini = dir + "\\service.ini";
  ServiceHosts missing = ReadServiceHosts(ini);
  EXPECT_EQ(defaults.client, missing.client);
  EXPECT_EQ(defaults.login, missing.login);

  ASSERT_TRUE(WriteFileBytes(ini, "[Service]\r\nClientHost=127.0.0.1:81/x\r\nWebHost=a b\r\n"
                                  "ForumHost=forum.test\r\nLoginHost=user@host\r\n"));
  ServiceHosts read = ReadServiceHosts(ini);
  EXPECT_EQ(defaults.client, read.client);
  EXPECT_EQ(defaults.web, read.web);
  EXPECT_EQ("forum.test", read.forum);
  EXPECT_EQ(defaults.login, read.login);
}

TEST_F(StoreTest, ServiceDownUsesTheListsOfAnEarlierRun) {
  UseService(kServiceDown);
  std::string servers =
      "<Data><Apps><App Id=\"8\" Name=\"Earlier\" RegKey=\"K\" RegValue=\"V\"/></Apps>"
      "<LoginServer><Server Address=\"10.9.9.9\" Port=\"7000\"/></LoginServer></Data>";
  std::string groups = "<Data><Group name=\"G\"><Server id=\"3\" name=\"L\"/></Group></Data>";
  PutCache("servers.xml", servers);
  PutCache("groups.xml", groups);
  CConfigStore store(exe_);
  EXPECT_EQ(servers, CacheText("servers.xml"));
  EXPECT_EQ(groups, CacheText("groups.xml"));
  ASSERT_EQ(1u, store.m_games.size());
  EXPECT_EQ("Earlier", store.FindGame(8)->m_name);
  EXPECT_EQ(nullptr, store.FindGame(9));
  ASSERT_EQ(1u, store.m_loginServers.size());
  EXPECT_EQ(7000, store.m_loginServers[0].m_port);
  ASSERT_EQ(1u, store.m_lines.Count());
  EXPECT_EQ("L", store.m_lines.FindById(99)->name);
}

TEST_F(StoreTest, ServiceErrorKeepsTheCachedLists) {
  UseService(kStandIn);
  PutCache("groups.xml", "<Data><Group name=\"G\"><Server id=\"3\" name=\"L\"/></Group></Data>");
  ASSERT_TRUE(SetStubMode("/server_group.php", "500"));
  {
    CConfigStore store(exe_);
    ASSERT_EQ(1u, store.m_lines.Count());
    EXPECT_EQ("L", store.m_lines.At(0).name);
  }
  ASSERT_TRUE(SetStubMode("/server_group.php", "normal"));
}

TEST_F(StoreTest, StalledListsEndTheConstructionWithinTheDeadlineWithTheCachedLists) {
  UseService(kStandIn);
  const std::string servers =
      "<Data><Apps><App Id=\"8\" Name=\"Cached\" RegKey=\"K\" RegValue=\"V\"/></Apps></Data>";
  const std::string groups = "<Data><Group name=\"G\"><Server id=\"3\" name=\"L\"/></Group></Data>";
  PutCache("servers.xml", servers);
  PutCache("groups.xml", groups);
  // The stand-in accepts both requests and answers only after two minutes.
  ASSERT_TRUE(SetStubMode("/servers2.0.php", "slow:120000"));
  ASSERT_TRUE(SetStubMode("/server_group.php", "slow:120000"));
  DWORD t0 = GetTickCount();
  {
    CConfigStore store(exe_);
    DWORD took = GetTickCount() - t0;
    std::printf("store construction with both lists stalled: %lu ms\n",
                static_cast<unsigned long>(took));
    EXPECT_LT(took, 25000u);
    EXPECT_GE(took, 2 * 10000u - 500);  // each list was waited for until its deadline
    ASSERT_EQ(1u, store.m_lines.Count());
    EXPECT_EQ("L", store.m_lines.At(0).name);
    ASSERT_EQ(1u, store.m_games.size());
    EXPECT_EQ("Cached", store.m_games[0].m_name);
  }
  EXPECT_EQ(servers, CacheText("servers.xml"));
  EXPECT_EQ(groups, CacheText("groups.xml"));
  ASSERT_TRUE(SetStubMode("/servers2.0.php", "normal"));
  ASSERT_TRUE(SetStubMode("/server_group.php", "normal"));
}

// --- program version --------------------------------------------------------------------

TEST_F(StoreTest, ProgramVersionFromTheVersionResource) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  EXPECT_EQ(20100, store.m_programVersion);
  std::string text;
  EXPECT_EQ(20100, CConfigStore::ReadProgramVersion(exe_, &text));
  EXPECT_EQ("2.1.0", text);
}

TEST_F(StoreTest, FileWithoutVersionResource) {
  std::string plain = dir_ + "\\plain.dat";
  ASSERT_TRUE(WriteFileBytes(plain, "no resources here"));
  std::string text;
  EXPECT_EQ(0, CConfigStore::ReadProgramVersion(plain, &text));
  EXPECT_EQ("None VerSion Supprot", text);
  EXPECT_EQ(0, CConfigStore::ReadProgramVersion(dir_ + "\\missing.exe", &text));
  EXPECT_EQ("None VerSion Supprot", text);
}

TEST_F(StoreTest, VersionResourceTextsAreGbk) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(exe_.c_str(), &handle);
  ASSERT_NE(0u, size);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(exe_.c_str(), 0, size, &block[0]));
  char* value = nullptr;
  UINT chars = 0;
  ASSERT_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\080403a8\\ProductName",
                             reinterpret_cast<void**>(&value), &chars));
  EXPECT_EQ(std::string(kProductName), std::string(value));
}

// --- user.ini ---------------------------------------------------------------------------

TEST_F(StoreTest, MissingUserIniGivesTheDefaults) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  store.LoadSettings();
  EXPECT_EQ("", store.m_userName);
  EXPECT_EQ("", store.m_password);
  EXPECT_EQ(0, store.m_remember);
  EXPECT_EQ(1, store.m_exitNotify);
  EXPECT_EQ(0, store.m_autoLogin);
  EXPECT_EQ(1, store.m_runCounter);
  EXPECT_EQ(0, store.m_connSrv);
  EXPECT_EQ(0, store.m_modeApp);
}

TEST_F(StoreTest, RunCounterFiveReadsAsSixAndIsSavedAsSix) {
  UseService(kServiceDown);
  PutCache("user.ini", "[User]\r\nRUN_COUNTER=5\r\nMODE_APP=12\r\nCONN_SRV=4\r\nEXIT_NOTIFY=0\r\n");
  CConfigStore store(exe_);
  store.LoadSettings();
  EXPECT_EQ(6, store.m_runCounter);
  EXPECT_EQ(12, store.m_modeApp);
  EXPECT_EQ(4, store.m_connSrv);
  EXPECT_EQ(0, store.m_exitNotify);
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ("6", IniValue("RUN_COUNTER"));
  EXPECT_EQ("12", IniValue("MODE_APP"));
  EXPECT_EQ("4", IniValue("CONN_SRV"));
  EXPECT_EQ("0", IniValue("EXIT_NOTIFY"));
  EXPECT_EQ("0", IniValue("AUTO_LOGIN"));
}

TEST_F(StoreTest, RememberOffWritesAnEmptyPassword) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  store.LoadSettings();
  store.m_userName = "player";
  store.m_password = "secret";
  store.m_remember = 0;
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ("player", IniValue("NAME"));
  EXPECT_EQ("", IniValue("PASSWD"));
  EXPECT_EQ("0", IniValue("REMEMBER"));
  std::string file = CacheText("user.ini");
  EXPECT_EQ(std::string::npos, file.find("secret"));
  EXPECT_EQ(std::string::npos, file.find("sfcsfu"));
}

TEST_F(StoreTest, RememberedPasswordIsStoredScrambled) {
  UseService(kServiceDown);
  {
    CConfigStore store(exe_);
    store.LoadSettings();
    store.m_password = "abc";
    store.m_remember = 1;
    store.m_autoLogin = 1;
    EXPECT_TRUE(store.SaveSettings());
  }
  EXPECT_EQ("acc", IniValue("PASSWD"));
  EXPECT_EQ("1", IniValue("REMEMBER"));
  EXPECT_EQ("1", IniValue("AUTO_LOGIN"));
  CConfigStore again(exe_);
  again.LoadSettings();
  EXPECT_EQ("abc", again.m_password);
  EXPECT_EQ(1, again.m_remember);
  EXPECT_EQ(1, again.m_autoLogin);
}

TEST_F(StoreTest, LongNameAndPasswordComeBackWhole) {
  UseService(kServiceDown);
  PutCache("user.ini", "[User]\r\nNAME=abcdefghijklmnopqrstuvwxyz0123\r\nPASSWD=0123456789012345678901\r\n");
  {
    CConfigStore store(exe_);
    store.LoadSettings();
    EXPECT_EQ("abcdefghijklmnopqrstuvwxyz0123", store.m_userName);
    EXPECT_EQ(22u, store.m_password.size());
    // A 30-character password saved and read back, as the automatic login needs it.
    store.m_password = "pw-0123456789-abcdefghij-XYZ.!";
    ASSERT_EQ(30u, store.m_password.size());
    store.m_remember = 1;
    EXPECT_TRUE(store.SaveSettings());
  }
  CConfigStore again(exe_);
  again.LoadSettings();
  EXPECT_EQ("abcdefghijklmnopqrstuvwxyz0123", again.m_userName);
  EXPECT_EQ("pw-0123456789-abcdefghij-XYZ.!", again.m_password);
}

TEST_F(StoreTest, PasswordsThatWouldComeBackAlteredAreNotStored) {
  UseService(kServiceDown);
  // A blank at each end, at the start only, at the end only (at an odd position it
  // scrambles to '!'), and one whose scrambled form is enclosed in quotes ('!' at an odd
  // position scrambles to '"').
  const std::vector<std::string> passwords = {" both ", " lead", "trail ", "\"xy!", "plain"};
  for (const std::string& password : passwords) {
    SCOPED_TRACE("[" + password + "]");
    {
      CConfigStore store(exe_);
      store.LoadSettings();
      store.m_password = password;
      store.m_remember = 1;
      EXPECT_TRUE(store.SaveSettings());
    }
    CConfigStore again(exe_);
    again.LoadSettings();
    // Either the password itself or nothing at all: never another one.
    if (!again.m_password.empty()) EXPECT_EQ(password, again.m_password);
  }
  // "plain" has nothing the file could alter; " both " cannot be stored at all.
  CConfigStore last(exe_);
  last.LoadSettings();
  EXPECT_EQ("plain", last.m_password);
  {
    CConfigStore store(exe_);
    store.LoadSettings();
    store.m_password = " both ";
    store.m_remember = 1;
    EXPECT_TRUE(store.SaveSettings());
  }
  EXPECT_EQ("", IniValue("PASSWD"));
}

TEST_F(StoreTest, ScrambledLineEndIsNeverWritten) {
  UseService(kServiceDown);
  CConfigStore store(exe_);
  store.LoadSettings();
  // A tab at an odd position scrambles to a line feed, which would split user.ini's line.
  store.m_password = "x\tRUN_COUNTER=99";
  store.m_remember = 1;
  store.m_runCounter = 3;
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ("", IniValue("PASSWD"));
  EXPECT_EQ("3", IniValue("RUN_COUNTER"));
}

// --- servers.xml Service part and the user documents -------------------------------------

TEST_F(StoreTest, ServiceChildrenOutOfOrderKeepTheDefaultUpdateUrl) {
  UseService(kStandIn);
  CConfigStore store(exe_);
  std::string defaultUpdate = store.m_updateUrl;
  PutCache("servers.xml",
           "<Data><Service><updateurl>http://x/new.rar</updateurl><help>http://x/help</help>"
           "<registerurl>http://x/reg</registerurl></Service></Data>");
  EXPECT_EQ(1, store.LoadSettings());
  EXPECT_EQ("http://x/help", store.m_helpUrl);
  EXPECT_EQ("http://x/reg", store.m_registerUrl);
  EXPECT_EQ(defaultUpdate, store.m_updateUrl);
}

TEST_F(StoreTest, UserDocumentsMissingOrBrokenAreSavedAsEmptyData) {
  UseService(kServiceDown);
  PutCache("servers.xml", "<Data/>");
  PutCache("notaccel.xml", "<data><x>");
  CConfigStore store(exe_);
  ASSERT_EQ(1, store.LoadSettings());
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ("<data/>\r\n", CacheText("notaccel.xml"));
  EXPECT_EQ("<data/>\r\n", CacheText("accel.xml"));
}

TEST_F(StoreTest, UserDocumentsAreWrittenBackUnchanged) {
  UseService(kServiceDown);
  PutCache("servers.xml", "<Data/>");
  // Declared GBK: the reader keeps the bytes as they are, both ways.
  std::string accel =
      "<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n"
      "<data>\r\n<game id=\"1\">\xD3\xCE\xCF\xB7</game>\r\n</data>\r\n";
  PutCache("accel.xml", accel);
  CConfigStore store(exe_);
  ASSERT_EQ(1, store.LoadSettings());
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ(accel, CacheText("accel.xml"));
}

TEST_F(StoreTest, WithoutDataInServersXmlTheUserDocumentsAreLeftAlone) {
  UseService(kServiceDown);
  PutCache("accel.xml", "<data><keep/></data>");
  PutCache("notaccel.xml", "<data><keep2/></data>");
  CConfigStore store(exe_);  // no servers.xml at all
  EXPECT_EQ(0, store.LoadSettings());
  store.m_runCounter = 7;
  EXPECT_TRUE(store.SaveSettings());
  EXPECT_EQ("<data><keep/></data>", CacheText("accel.xml"));
  EXPECT_EQ("<data><keep2/></data>", CacheText("notaccel.xml"));
  EXPECT_EQ("7", IniValue("RUN_COUNTER"));
}

// --- the rest of the store's interface ------------------------------------------------

TEST_F(StoreTest, AccessorGivesTheNewestStore) {
  UseService(kServiceDown);
  CConfigStore outer(exe_);
  EXPECT_EQ(&outer, &ConfigStore());
  {
    CConfigStore inner(exe_);
    EXPECT_EQ(&inner, &ConfigStore());
  }
  EXPECT_EQ(&outer, &ConfigStore());
}

TEST(ConfigStoreSystem, DnsServersAreDottedAddresses) {
  std::vector<std::string> servers;
  ASSERT_TRUE(CConfigStore::GetDnsServers(servers));
  for (const std::string& s : servers) {
    EXPECT_NE(INADDR_NONE, inet_addr(s.c_str())) << s;
    EXPECT_EQ(3, std::count(s.begin(), s.end(), '.')) << s;
  }
}

TEST_F(StoreTest, DownloadWhenOnlineFetchesTheRouteList) {
  UseService(kStandIn);
  CConfigStore store(exe_);
  if (!CConfigStore::IsOnline()) GTEST_SKIP() << "no connection reported";
  std::string url = Format("%s?app_id=%d", store.ListUrl("/route.php").c_str(), 1);
  EXPECT_TRUE(CConfigStore::DownloadWhenOnline(url, store.CachePath("route.xml"), "data"));
  EXPECT_EQ(Served("/route.php?app_id=1"), CacheText("route.xml"));
}

// --- the program itself -----------------------------------------------------------------

TEST_F(StoreTest, ProgramBuildsItsStoreBesideItsOwnFile) {
  UseService(kStandIn);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + exe_ + "\"";
  ASSERT_TRUE(CreateProcessA(exe_.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                             "C:\\", &si, &pi));
  // The store is complete once the login dialog shows; cancelling it ends the program.
  HWND login = nullptr;
  for (int i = 0; i < 600 && !login; ++i) {
    if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) break;
    for (HWND w = FindWindowA("#32770", "Vela网游加速器 V2.1"); w;
         w = FindWindowExA(nullptr, w, "#32770", "Vela网游加速器 V2.1")) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == pi.dwProcessId) login = w;
    }
  }
  ASSERT_NE(login, nullptr);
  PostMessageA(login, WM_COMMAND, IDCANCEL, 0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(Served("/servers2.0.php"), CacheText("servers.xml"));
  EXPECT_EQ(Served("/server_group.php"), CacheText("groups.xml"));
  std::string log = CacheText("velavpn.log");
  EXPECT_NE(std::string::npos, log.find(kOsVersionLabel)) << log;
}

}  // namespace
