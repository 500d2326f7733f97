// Drives a real tunnel module (its test build, which takes scripted stand-ins for the
// dial-up service and WinExec) through its exports, with a real window receiving its
// messages and the run log read back as GBK bytes.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tunnel/fake_ras.h"
#include "tunnel/tunnel_api.h"

namespace {

struct Ev {
  UINT msg;
  WPARAM w;
  LPARAM l;
  std::string text;  // copied at once, as the host must
  bool operator==(const Ev& o) const {
    return msg == o.msg && w == o.w && (l != 0) == (o.l != 0) && text == o.text &&
           (msg == WM_TUNNEL_DISCONNECTED ? l == o.l : true);
  }
};

std::ostream& operator<<(std::ostream& os, const Ev& e) {
  return os << "{" << e.msg << ", " << e.w << ", " << (e.l ? "ptr/val " : "0 ") << e.l << ", \""
            << e.text << "\"}";
}

Ev Msg(UINT msg, WPARAM w = 0, LPARAM l = 0, const std::string& text = "") {
  return Ev{msg, w, l, text};
}
Ev WithText(UINT msg, WPARAM w, const std::string& text) { return Ev{msg, w, 1, text}; }

typedef void (*PFN_SetSeams)(IRasApi*, ICommandRunner*);
typedef LONG (*PFN_TickPending)();

const char* const kServiceCommands[] = {"sc config TapiSrv start= AUTO",
                                        "sc config RasMan start= AUTO", "net start TapiSrv",
                                        "net start RasMan"};

class TunnelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    exeDir_ = exe;
    exeDir_.erase(exeDir_.rfind('\\'));
    logPath_ = exeDir_ + "\\Cache\\run.log";
    DeleteFileA(logPath_.c_str());

    WNDCLASSA wc = {};
    wc.lpfnWndProc = &TunnelTest::WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TunnelTestWindow";
    RegisterClassA(&wc);
    wnd_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
    ASSERT_NE(wnd_, nullptr);
    SetWindowLongPtrA(wnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    module_ = LoadLibraryA(TUNNEL_DLL);
    ASSERT_NE(module_, nullptr);
    init_ = Bind<PFN_InitCoreApi>("InitCoreApi");
    uninit_ = Bind<PFN_UninitCoreApi>("UninitCoreApi");
    start_ = Bind<PFN_StartConnect>("StartConnect");
    close_ = Bind<PFN_CloseConnect>("CloseConnect");
    timer_ = Bind<PFN_TimerNotification>("TimerNotification");
    getIp_ = Bind<PFN_GetConnectionIp>("GetConnectionIp");
    Bind<PFN_SetSeams>("TunnelTestSetSeams")(&ras_, &runner_);
    tickPending_ = Bind<PFN_TickPending>("TunnelTestTickPending");
  }

  void TearDown() override {
    if (inited_ && !uninited_) uninit_();
    FreeLibrary(module_);
    // The worker lets the module go with its last instruction; wait for that, so the
    // next test loads a fresh module.
    DWORD until = GetTickCount() + 30000;
    while (GetModuleHandleA(TUNNEL_DLL) && GetTickCount() < until) Pump(50);
    EXPECT_EQ(GetModuleHandleA(TUNNEL_DLL), nullptr) << "module still loaded";
    DestroyWindow(wnd_);
  }

  template <typename T>
  T Bind(const char* name) {
    FARPROC p = GetProcAddress(module_, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<T>(reinterpret_cast<void*>(p));
  }

  static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    TunnelTest* self = reinterpret_cast<TunnelTest*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (self && msg >= WM_TUNNEL_CONNECTED && msg <= WM_TUNNEL_STATUS) {
      Ev e{msg, w, l, ""};
      bool hasText = msg == WM_TUNNEL_CONNECTED || msg == WM_TUNNEL_STATUS ||
                     (msg == WM_TUNNEL_ERROR && l != 0);
      if (hasText && l) e.text = reinterpret_cast<const char*>(l);
      self->events_.push_back(e);
      return 0;
    }
    return DefWindowProcA(h, msg, w, l);
  }

  void Pump(DWORD ms) {
    DWORD until = GetTickCount() + ms;
    for (;;) {
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
      DWORD now = GetTickCount();
      if (static_cast<LONG>(until - now) <= 0) break;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT);
    }
  }

  // Pumps until n events have arrived (or the time is up), then a little longer so that
  // an unexpected extra message would show.
  const std::vector<Ev>& WaitEvents(size_t n, DWORD timeoutMs = 10000) {
    DWORD until = GetTickCount() + timeoutMs;
    while (events_.size() < n && static_cast<LONG>(until - GetTickCount()) > 0) Pump(20);
    Pump(150);
    return events_;
  }

  void Init(HWND w) {
    init_(w);
    inited_ = true;
  }
  void InitWithWindow() { Init(wnd_); }
  void Uninit() {
    uninit_();
    uninited_ = true;
  }
  void Start(const char* host = "1.2.3.4", const char* user = "user", const char* pass = "pass") {
    start_(host, "Line A", "", user, pass, 0);
  }
  // Ticks as the page sends them, each after the worker has run the one before (a tick
  // sent while one is pending is dropped).
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) {
      WaitTickDone();
      timer_();
    }
  }
  void WaitTickDone() {
    DWORD until = GetTickCount() + 15000;
    while (tickPending_() && static_cast<LONG>(until - GetTickCount()) > 0) Sleep(5);
  }
  // A start that the fake dial-up API carries to a live connection: dialling, then connected.
  void StartConnected() {
    Start();
    WaitEvents(1);
    ras_.Notify(RASCS_Connected, 0);
    WaitEvents(2);
  }

  // The run log's records, prefix removed.
  std::vector<std::string> LogLines() {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    std::regex prefix(R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::vector<std::string> out;
    std::sregex_iterator it(all.begin(), all.end(), prefix), end;
    std::vector<size_t> starts, ends;
    for (; it != end; ++it) {
      starts.push_back(static_cast<size_t>(it->position()));
      ends.push_back(static_cast<size_t>(it->position() + it->length()));
    }
    for (size_t i = 0; i < starts.size(); ++i) {
      size_t stop = i + 1 < starts.size() ? starts[i + 1] : all.size();
      out.push_back(all.substr(ends[i], stop - ends[i]));
    }
    return out;
  }
  // Log lines without the start-up line of the worker.
  std::vector<std::string> WorkLog() {
    std::vector<std::string> lines = LogLines();
    if (!lines.empty() && lines[0] == "Worker thread started.\r\n") lines.erase(lines.begin());
    return lines;
  }
  size_t CountLog(const std::string& line) {
    size_t n = 0;
    for (const std::string& l : LogLines()) n += l == line;
    return n;
  }
  std::string Phonebook(int n) { return exeDir_ + "\\cache\\velanet_" + std::to_string(n) + ".pbk"; }

  std::string exeDir_, logPath_;
  HWND wnd_ = nullptr;
  HMODULE module_ = nullptr;
  PFN_InitCoreApi init_ = nullptr;
  PFN_UninitCoreApi uninit_ = nullptr;
  PFN_StartConnect start_ = nullptr;
  PFN_CloseConnect close_ = nullptr;
  PFN_TimerNotification timer_ = nullptr;
  PFN_GetConnectionIp getIp_ = nullptr;
  PFN_TickPending tickPending_ = nullptr;
  FakeRas ras_;
  FakeRunner runner_;
  std::vector<Ev> events_;
  bool inited_ = false, uninited_ = false;
};

const std::string kNoWorker = "没有工作线程，无法发送工作线程消息！\r\n";
const std::string kNoWindow = "发送UI消息失败，窗口未设置！\r\n";
const std::string kBusy = "已经在连接过程中，需要等待连接完成...\r\n";
const std::string kAlready = "已经连接上加速网络，不能同时连接多个加速服务器\r\n";

// ---------------------------------------------------------------- both builds

TEST_F(TunnelTest, ExportsBeforeInitLogAndPostNothing) {
  Start();
  EXPECT_EQ(close_(), 0);
  EXPECT_EQ(timer_(), 0);
  EXPECT_EQ(getIp_(), 0);
  EXPECT_EQ(uninit_(), 0);
  uninited_ = true;
  Pump(200);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>(4, kNoWorker));
  EXPECT_TRUE(runner_.Commands().empty());
}

TEST_F(TunnelTest, WorkerStartsTheDialServicesHiddenAndInOrder) {
  InitWithWindow();
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Worker thread started.\r\n"});
  std::vector<std::string> commands = runner_.Commands();
  ASSERT_EQ(commands.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(commands[i], kServiceCommands[i]);
    EXPECT_EQ(runner_.shows[i], static_cast<UINT>(SW_HIDE));
  }
  EXPECT_EQ(getIp_(), 0);
}

TEST_F(TunnelTest, SecondStartWhileConnectingIsRefusedWithALogLineOnly) {
  InitWithWindow();
  Start();
  Start();
  EXPECT_EQ(WaitEvents(1), std::vector<Ev>{Msg(WM_TUNNEL_DIALING)});
  EXPECT_EQ(CountLog(kBusy), 1u);
}

TEST_F(TunnelTest, WithoutAWindowEveryPostBecomesALogLineAndStateStillChanges) {
  Init(nullptr);
  Start();
  Start();
  close_();
  Pump(500);
  EXPECT_TRUE(events_.empty());
  std::vector<std::string> log = WorkLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], kNoWindow);  // instead of the dialing message
  EXPECT_EQ(log[1], "选择服务器：1.2.3.4，开始连接。\r\n");
  EXPECT_EQ(CountLog(kBusy), 1u);  // the first start did change the state
  EXPECT_GE(CountLog(kNoWindow), 2u);  // closing, and later the disconnect
}

TEST_F(TunnelTest, ServerHostWithPercentAndOverlongHostAreLoggedAsGiven) {
  InitWithWindow();
  ras_.dialResults = {0, 0, 0};
  Start("100%s%d.example");
  WaitEvents(1);
  EXPECT_EQ(CountLog("选择服务器：100%s%d.example，开始连接。\r\n"), 1u);
  close_();
  WaitEvents(3);
  std::string host(400, 'h');
  Start(host.c_str());
  WaitEvents(4);
  std::string expected = ("选择服务器：" + host).substr(0, 255);
  EXPECT_EQ(CountLog(expected), 1u);
  // A host of the list that would end the line and forge the next one.
  close_();
  WaitEvents(6);
  Start("vpn.example\r\n2012-01-01 00:00:00 \x7f");
  WaitEvents(7);
  EXPECT_EQ(CountLog("选择服务器：vpn.example??2012-01-01 00:00:00 ?，开始连接。\r\n"), 1u);
}

TEST_F(TunnelTest, LeftoverConnectionsOfTheEntryAreHungUpWhenTheWorkerStarts) {
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    ras_.connections = {{"Other", reinterpret_cast<HRASCONN>(0x77)},
                        {"VelaVPN", reinterpret_cast<HRASCONN>(0x99)},
                        {"VelaVPN", reinterpret_cast<HRASCONN>(0x9a)}};
    ras_.clientIp = "10.8.0.7";
  }
  InitWithWindow();
  EXPECT_EQ(WorkLog(), (std::vector<std::string>{
                           "发现上次运行留下的加速连接（客户端IP：10.8.0.7），已将其断开.\r\n",
                           "发现上次运行留下的加速连接（客户端IP：10.8.0.7），已将其断开.\r\n"}));
  Pump(200);
  EXPECT_TRUE(events_.empty());  // the page stays idle
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.hangUps, (std::vector<HRASCONN>{reinterpret_cast<HRASCONN>(0x99),
                                                 reinterpret_cast<HRASCONN>(0x9a)}));
  // The list is asked for in the layout of the build's Windows.
#ifdef TUNNEL_W7
  EXPECT_EQ(ras_.enumEntrySizes.at(0), sizeof(RasConnW7A));
#else
  EXPECT_EQ(ras_.enumEntrySizes.at(0), sizeof(RASCONNA));
#endif
}

#ifndef TUNNEL_W7
// ---------------------------------------------------------------- Windows XP build

TEST_F(TunnelTest, XpLineLostWithoutACallbackIsFoundByTwoStatusChecksInARow) {
  InitWithWindow();
  ras_.statusQueriesUntilGone = 1000;
  StartConnected();
  Ticks(3);
  WaitTickDone();
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    // One check that fails alone is a moment of a busy service, not a lost line.
    ras_.statusQueriesUntilGone = 0;
    ras_.lineDropped = true;
  }
  Ticks(1);
  WaitTickDone();
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    ras_.lineDropped = false;
    ras_.statusQueriesUntilGone = 1000;
  }
  Ticks(2);
  WaitTickDone();
  Pump(200);
  EXPECT_EQ(events_.size(), 2u);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    ras_.statusQueriesUntilGone = 0;
    ras_.lineDropped = true;
  }
  DWORD t0 = GetTickCount();
  Ticks(2);
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_DISCONNECTED, 1, 1));
  EXPECT_LT(GetTickCount() - t0, 3000u);  // no wait for the service on the worker
  EXPECT_EQ(getIp_(), 0);
  EXPECT_EQ(CountLog("加速连接已经中断.\r\n"), 1u);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>{ras_.dialHandle});
    ras_.lineDropped = false;
  }
  // Idle: later ticks ask nothing, and the next start dials anew.
  Ticks(3);
  Start();
  EXPECT_EQ(WaitEvents(4).back(), Msg(WM_TUNNEL_DIALING));
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.dialParams.size(), 2u);
}

TEST_F(TunnelTest, XpDialWritesTheEntryAndReportsProgressThenConnected) {
  InitWithWindow();
  Start("vpn1.example", "alice", "s3cret");
  WaitEvents(1);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    ASSERT_EQ(ras_.phonebooks, std::vector<std::string>{Phonebook(1)});
    const RASENTRYA& e = ras_.entries[0];
    EXPECT_EQ(e.dwSize, sizeof(RASENTRYA));
    EXPECT_EQ(e.dwfOptions, 0u);  // in particular not the default route
    EXPECT_STREQ(e.szLocalPhoneNumber, "vpn1.example");
    EXPECT_EQ(e.dwfNetProtocols, 7u);
    EXPECT_EQ(e.dwFramingProtocol, 1u);
    EXPECT_STREQ(e.szDeviceType, "vpn");
    EXPECT_STREQ(e.szDeviceName, "RAS VPN Line 0");
    EXPECT_EQ(e.dwType, 2u);
    EXPECT_EQ(e.dwVpnStrategy, 2u);
    EXPECT_EQ(e.dwRedialCount, 3u);
    EXPECT_EQ(e.dwEncryptionType, 0u);
    EXPECT_EQ(e.dwRedialPause, 0u);
    const RASDIALPARAMSA& p = ras_.dialParams[0];
    EXPECT_STREQ(p.szEntryName, "VelaVPN");
    EXPECT_STREQ(p.szPhoneNumber, "");
    EXPECT_STREQ(p.szUserName, "alice");
    EXPECT_STREQ(p.szPassword, "s3cret");
    EXPECT_STREQ(p.szDomain, "");
    EXPECT_EQ(p.dwSubEntry, 0u);
  }
  const RASCONNSTATE states[] = {RASCS_OpenPort,    RASCS_PortOpened,  RASCS_ConnectDevice,
                                 RASCS_DeviceConnected, RASCS_AllDevicesConnected,
                                 RASCS_Authenticate, RASCS_AuthNotify, RASCS_AuthRetry,
                                 RASCS_AuthProject, RASCS_Authenticated, RASCS_PasswordExpired};
  for (RASCONNSTATE s : states) {
    EXPECT_EQ(ras_.Notify(s, 0), 1u);
    // The text lives in one module buffer: take it before the next state overwrites it.
    WaitEvents(events_.size() + 1);
  }
  ras_.Notify(RASCS_Connected, 0);
  std::vector<Ev> expected = {
      Msg(WM_TUNNEL_DIALING),
      WithText(WM_TUNNEL_STATUS, 0, "正在打开端口..."),
      WithText(WM_TUNNEL_STATUS, 1, "端口已经打开..."),
      WithText(WM_TUNNEL_STATUS, 2, "连接设备..."),
      WithText(WM_TUNNEL_STATUS, 3, "设备已经连接..."),
      WithText(WM_TUNNEL_STATUS, 4, "所有设备已经连接..."),
      WithText(WM_TUNNEL_STATUS, 5, "开始身份认证..."),
      WithText(WM_TUNNEL_STATUS, 6, "正在身份认证..."),
      WithText(WM_TUNNEL_STATUS, 7, "连接中..."),
      WithText(WM_TUNNEL_STATUS, 10, "开始映射..."),
      WithText(WM_TUNNEL_STATUS, 14, "验证通过..."),
      WithText(WM_TUNNEL_STATUS, 4099, "密码已经过期"),
      WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.2"),
  };
  EXPECT_EQ(WaitEvents(expected.size()), expected);
  EXPECT_EQ(static_cast<unsigned long>(getIp_()), inet_addr("10.8.0.2"));
  EXPECT_EQ(WorkLog(), (std::vector<std::string>{"选择服务器：vpn1.example，开始连接。\r\n",
                                                 "客户端PPP IP地址: 10.8.0.2\r\n",
                                                 "连接成功，分配客户端IP：10.8.0.2\r\n"}));
  // Connected: a further start is refused, the host hears nothing.
  Start();
  Pump(300);
  EXPECT_EQ(events_.size(), expected.size());
  EXPECT_EQ(CountLog(kAlready), 1u);
}

TEST_F(TunnelTest, XpFailedDialReachesTheWindowTwice) {
  InitWithWindow();
  ras_.dialResults = {691};
  Start();
  EXPECT_EQ(WaitEvents(3), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 691),
                                            WithText(WM_TUNNEL_ERROR, 691, "fake error 691")}));
  EXPECT_EQ(WorkLog(),
            (std::vector<std::string>{"选择服务器：1.2.3.4，开始连接。\r\n",
                                      "拨号错误，重试10次后仍然失败，请重启电脑再试试！\r\n",
                                      "连接失败，错误代码：691\r\n"}));
  // Idle again: a new start dials.
  Start();
  WaitEvents(4);
  EXPECT_EQ(events_.back(), Msg(WM_TUNNEL_DIALING));
}

TEST_F(TunnelTest, XpDialRetries756WithAFreshPhonebookEachTime) {
  InitWithWindow();
  ras_.dialResults = {756, 756, 756, 0};
  ras_.handleOnFailure = true;
  Start();
  WaitEvents(1);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    EXPECT_EQ(ras_.phonebooks, (std::vector<std::string>{Phonebook(1), Phonebook(2),
                                                         Phonebook(3), Phonebook(4)}));
    // Each failed attempt's handle is hung up before the next attempt.
    EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>(3, ras_.dialHandle));
  }
  EXPECT_EQ(CountLog("拨号错误，重试！\r\n"), 3u);
  EXPECT_EQ(events_, std::vector<Ev>{Msg(WM_TUNNEL_DIALING)});
  ras_.Notify(RASCS_Connected, 0);
  EXPECT_EQ(WaitEvents(2).back(), WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.2"));
}

TEST_F(TunnelTest, XpTenTimes756GivesUp) {
  InitWithWindow();
  ras_.dialResults = std::deque<DWORD>(11, 756);
  Start();
  EXPECT_EQ(WaitEvents(3), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 756),
                                            WithText(WM_TUNNEL_ERROR, 756, "fake error 756")}));
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.phonebooks.size(), 10u);
  EXPECT_EQ(ras_.phonebooks.back(), Phonebook(10));
  EXPECT_EQ(CountLog("拨号错误，重试！\r\n"), 10u);
  EXPECT_EQ(CountLog("拨号错误，重试10次后仍然失败，请重启电脑再试试！\r\n"), 1u);
}

TEST_F(TunnelTest, XpOtherDialErrorIsNotRetried) {
  InitWithWindow();
  ras_.dialResults = {623, 0};
  Start();
  WaitEvents(3);
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.dialParams.size(), 1u);
  EXPECT_EQ(CountLog("拨号错误，重试！\r\n"), 0u);
}

TEST_F(TunnelTest, XpEntryThatCannotBeWrittenOrNamesALibraryIsReportedWithoutDialing) {
  InitWithWindow();
  ras_.setEntryResult = 632;
  Start();
  EXPECT_EQ(WaitEvents(3), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 632),
                                            WithText(WM_TUNNEL_ERROR, 632, "fake error 632")}));
  EXPECT_EQ(CountLog("拨号参数初始化失败！\r\n"), 1u);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    EXPECT_TRUE(ras_.dialParams.empty());
    ras_.setEntryResult = 0;
  }
  // A phonebook whose entry, once written, still names a library for the dialler to load.
  std::ofstream(Phonebook(2), std::ios::binary) << "[VelaVPN]\r\nCustomDialDll=C:\\u\\x.dll\r\n";
  Start();
  EXPECT_EQ(WaitEvents(6), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 632),
                                            WithText(WM_TUNNEL_ERROR, 632, "fake error 632"),
                                            Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 5),
                                            WithText(WM_TUNNEL_ERROR, 5, "fake error 5")}));
  DeleteFileA(Phonebook(2).c_str());
  EXPECT_EQ(CountLog("电话簿条目指定了拨号库(C:\\u\\x.dll)，拨号未执行！\r\n"), 1u);
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_TRUE(ras_.dialParams.empty());
}

TEST_F(TunnelTest, XpErrorDuringTheDialIsReportedOnceWithItsText) {
  InitWithWindow();
  Start();
  WaitEvents(1);
  ras_.Notify(RASCS_Authenticate, 691);
  EXPECT_EQ(WaitEvents(2), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING),
                                            WithText(WM_TUNNEL_ERROR, 691, "fake error 691")}));
  // The failed dial's handle is hung up quietly: nothing more reaches the window.
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>{ras_.dialHandle});
}

TEST_F(TunnelTest, XpStatusTextsArrivingBackToBackKeepTheirOwnText) {
  InitWithWindow();
  Start();
  WaitEvents(1);
  // No pause between the states: each message must still carry its own text.
  ras_.Notify(RASCS_OpenPort, 0);
  ras_.Notify(RASCS_ConnectDevice, 0);
  ras_.Notify(RASCS_Authenticate, 0);
  EXPECT_EQ(WaitEvents(4), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING),
                                            WithText(WM_TUNNEL_STATUS, 0, "正在打开端口..."),
                                            WithText(WM_TUNNEL_STATUS, 2, "连接设备..."),
                                            WithText(WM_TUNNEL_STATUS, 5, "开始身份认证...")}));
}

TEST_F(TunnelTest, XpAddressThatCannotBeFetchedStillConnectsWithTheOldEmptyText) {
  InitWithWindow();
  ras_.projectionFailures = 1;
  Start();
  WaitEvents(1);
  ras_.Notify(RASCS_Connected, 0);
  EXPECT_EQ(WaitEvents(2).back(), WithText(WM_TUNNEL_CONNECTED, 0, ""));
  EXPECT_EQ(getIp_(), 0);
  EXPECT_EQ(CountLog("获取客户端PPP IP地址失败.\r\n"), 1u);
  EXPECT_EQ(CountLog("连接成功，分配客户端IP：\r\n"), 1u);
}

TEST_F(TunnelTest, XpLineDroppedByTheServiceDisconnectsAndForgetsTheAddress) {
  InitWithWindow();
  StartConnected();
  ASSERT_NE(getIp_(), 0);
  ras_.Notify(RASCS_Disconnected, 0);
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_DISCONNECTED, 0, 0));
  EXPECT_EQ(getIp_(), 0);
}

TEST_F(TunnelTest, XpErrorThatEndsALiveConnectionEndsItWholly) {
  InitWithWindow();
  StartConnected();
  ASSERT_NE(getIp_(), 0);
  // The service ends the connection with an error code: the callback checks the error first.
  ras_.Notify(RASCS_Disconnected, ERROR_REMOTE_DISCONNECTION);
  EXPECT_EQ(WaitEvents(3).back(), WithText(WM_TUNNEL_ERROR, ERROR_REMOTE_DISCONNECTION,
                                           "fake error 629"));
  EXPECT_EQ(getIp_(), 0);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>{ras_.dialHandle});
  }
  // Idle again: the next start dials instead of being refused as already connected.
  Start();
  EXPECT_EQ(WaitEvents(4).back(), Msg(WM_TUNNEL_DIALING));
  EXPECT_EQ(CountLog(kAlready), 0u);
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.dialParams.size(), 2u);
}

TEST_F(TunnelTest, XpCloseWhileIdleCompletesAtOnce) {
  InitWithWindow();
  close_();
  EXPECT_EQ(WaitEvents(2), (std::vector<Ev>{Msg(WM_TUNNEL_CLOSING),
                                            Msg(WM_TUNNEL_DISCONNECTED, 0, 0)}));
  EXPECT_EQ(WorkLog(), std::vector<std::string>{"关闭连接成功!\r\n"});
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>{nullptr});
  EXPECT_EQ(ras_.statusQueries, 1);
}

TEST_F(TunnelTest, XpCloseAfterConnectHangsUpTheDialledHandle) {
  InitWithWindow();
  ras_.statusQueriesUntilGone = 3;
  StartConnected();
  close_();
  EXPECT_EQ(WaitEvents(4), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING),
                                            WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.2"),
                                            Msg(WM_TUNNEL_CLOSING),
                                            Msg(WM_TUNNEL_DISCONNECTED, 0, 0)}));
  EXPECT_EQ(getIp_(), 0);
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.hangUps, std::vector<HRASCONN>{ras_.dialHandle});
  EXPECT_EQ(ras_.statusQueries, 4);
}

TEST_F(TunnelTest, XpHangUpThatNeverCompletesTimesOutAfterTwoHundredTries) {
  InitWithWindow();
  ras_.statusQueriesUntilGone = 100000;
  close_();
  EXPECT_EQ(WaitEvents(2, 40000), (std::vector<Ev>{Msg(WM_TUNNEL_CLOSING),
                                                   Msg(WM_TUNNEL_DISCONNECTED, 1, 0)}));
  EXPECT_EQ(WorkLog(), std::vector<std::string>{"关闭连接时超时.\r\n"});
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.statusQueries, 200);
}

TEST_F(TunnelTest, XpExitWhileConnectedHangsUpThenEnds) {
  InitWithWindow();
  StartConnected();
  Uninit();
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_CLOSING));
  Pump(300);
  EXPECT_EQ(events_.size(), 3u);  // the disconnect never reaches the host
  std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "关闭连接成功!\r\n");
  EXPECT_EQ(log.back(), "工作线程退出!!\r\n");
}

TEST_F(TunnelTest, XpUnloadDuringASlowHangUpIsSafeAndTheHangUpCompletes) {
  InitWithWindow();
  StartConnected();
  ras_.statusQueriesUntilGone = 50;  // about five seconds
  DWORD t0 = GetTickCount();
  Uninit();
  DWORD waited = GetTickCount() - t0;
  EXPECT_GE(waited, 2900u);
  EXPECT_LT(waited, 4500u);
  // The host unloads at once, as the client does; the worker still runs module code.
  FreeLibrary(module_);
  module_ = nullptr;
  EXPECT_NE(GetModuleHandleA(TUNNEL_DLL), nullptr);
  DWORD until = GetTickCount() + 15000;
  while (GetModuleHandleA(TUNNEL_DLL) && GetTickCount() < until) Pump(50);
  EXPECT_EQ(GetModuleHandleA(TUNNEL_DLL), nullptr);
  std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "关闭连接成功!\r\n");
  EXPECT_EQ(log.back(), "工作线程退出!!\r\n");
}

#else
// ---------------------------------------------------------------- Windows 7 build

std::string SystemDir() {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, sizeof dir);
  return dir;
}

// Splits a command line with the system's own rules.
std::vector<std::wstring> SplitCommandLine(const std::string& line) {
  int n = MultiByteToWideChar(936, 0, line.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, line.c_str(), -1, &w[0], n);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(w.c_str(), &argc);
  std::vector<std::wstring> out(argv, argv + argc);
  LocalFree(argv);
  return out;
}

std::wstring Wide(const std::string& s) {
  int n = MultiByteToWideChar(936, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, s.c_str(), -1, &w[0], n);
  w.resize(static_cast<size_t>(n - 1));
  return w;
}

class TunnelW7Test : public TunnelTest {
 protected:
  void Online(const char* name = "VelaVPN") {
    std::lock_guard<std::mutex> g(ras_.lock);
    ras_.connections = {{"Other", reinterpret_cast<HRASCONN>(0x77)},
                        {name, reinterpret_cast<HRASCONN>(0x99)}};
    ras_.clientIp = "10.8.0.9";
  }
  void Offline() {
    std::lock_guard<std::mutex> g(ras_.lock);
    ras_.connections.clear();
  }
};

TEST_F(TunnelW7Test, DialStartsTheSystemCommandWithEveryArgumentQuoted) {
  InitWithWindow();
  Start("vpn7.example", "bob", "pa ss\"wd\\");
  WaitEvents(1);
  std::vector<std::string> commands = runner_.Commands();
  ASSERT_EQ(commands.size(), 5u);
  std::string pbk = Phonebook(0);
  EXPECT_EQ(commands[4], "\"" + SystemDir() + "\\rasdial.exe\" VelaVPN \"bob\" \"pa ss\\\"wd\\\\\" "
                         "/phone:\"vpn7.example\" /phonebook:\"" + pbk + "\"");
  EXPECT_EQ(runner_.shows[4], static_cast<UINT>(SW_HIDE));
  // Every program by its full path in the system directory, whatever the folders searched
  // before it hold under the same names.
  const std::string sys = SystemDir() + "\\";
  EXPECT_EQ(runner_.Programs(), (std::vector<std::string>{sys + "sc.exe", sys + "sc.exe",
                                                          sys + "net.exe", sys + "net.exe",
                                                          sys + "rasdial.exe"}));
  std::vector<std::wstring> args = SplitCommandLine(commands[4]);
  ASSERT_EQ(args.size(), 6u);
  EXPECT_EQ(args[0], Wide(SystemDir() + "\\rasdial.exe"));
  EXPECT_EQ(args[1], L"VelaVPN");
  EXPECT_EQ(args[2], L"bob");
  EXPECT_EQ(args[3], L"pa ss\"wd\\");
  EXPECT_EQ(args[4], L"/phone:vpn7.example");
  EXPECT_EQ(args[5], Wide("/phonebook:" + pbk));
  // The system dial reports nothing by itself: no error now.
  EXPECT_EQ(events_, std::vector<Ev>{Msg(WM_TUNNEL_DIALING)});
}

TEST_F(TunnelW7Test, DialWithALoneLeadByteRunsNoCommandAndFails) {
  InitWithWindow();
  // 0x81 before a quote: rasdial would take the escaping backslash as its trail byte.
  Start("vpn7.example", "bob", "pa\x81\" /x");
  EXPECT_EQ(WaitEvents(3), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 87),
                                            WithText(WM_TUNNEL_ERROR, 87, "fake error 87")}));
  EXPECT_EQ(runner_.Commands().size(), 4u);  // the dial services only
  EXPECT_EQ(CountLog("拨号参数含有不完整的汉字编码，拨号命令未执行！\r\n"), 1u);
  Ticks(20);  // idle: no tick counts towards 800
  Pump(300);
  EXPECT_EQ(events_.size(), 3u);
  Start("vpn7.example", "bob", "\xC4\xE3\x95\x5c");  // whole GBK dials
  WaitEvents(4);
  ASSERT_EQ(runner_.Commands().size(), 5u);
  EXPECT_EQ(SplitCommandLine(runner_.Commands()[4]).at(3), Wide("\xC4\xE3\x95\x5c"));
}

TEST_F(TunnelW7Test, DialWithASwitchValueOrALibraryInThePhonebookRunsNoCommandAndFails) {
  InitWithWindow();
  // A switch as user name, a phonebook of someone else's as login code, the sign that makes
  // rasdial ask for the password on its hidden console.
  const char* values[][2] = {{"/DISCONNECT", "pw"},
                             {"bob", "/PHONEBOOK:\\\\h\\s\\x.pbk"},
                             {"bob", "-phonebook:\\\\h\\s\\x.pbk"},
                             {"bob", "*"}};
  size_t events = 0;
  for (auto& v : values) {
    Start("vpn7.example", v[0], v[1]);
    events += 3;
    std::vector<Ev> got = WaitEvents(events);
    ASSERT_EQ(got.size(), events);
    EXPECT_EQ(std::vector<Ev>(got.end() - 3, got.end()),
              (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 87),
                               WithText(WM_TUNNEL_ERROR, 87, "fake error 87")}))
        << v[0] << " " << v[1];
  }
  EXPECT_EQ(runner_.Commands().size(), 4u);  // the dial services only
  EXPECT_EQ(CountLog("拨号参数会被当作拨号命令的开关，拨号命令未执行！\r\n"), 4u);
  // The shipped phonebook changed to name a library for rasdial to load: no command.
  std::ofstream(Phonebook(0), std::ios::binary) << "[VelaVPN]\r\nCustomRasDialDll=x.dll\r\n";
  Start("vpn7.example", "bob", "pw");
  events += 3;
  std::vector<Ev> got = WaitEvents(events);
  DeleteFileA(Phonebook(0).c_str());
  ASSERT_EQ(got.size(), events);
  EXPECT_EQ(std::vector<Ev>(got.end() - 3, got.end()),
            (std::vector<Ev>{Msg(WM_TUNNEL_DIALING), Msg(WM_TUNNEL_ERROR, 5),
                             WithText(WM_TUNNEL_ERROR, 5, "fake error 5")}));
  EXPECT_EQ(CountLog("电话簿条目指定了拨号库(x.dll)，拨号未执行！\r\n"), 1u);
  Start("vpn7.example", "a/b", "**");  // not at the start, not alone: dials
  WaitEvents(events + 1);
  ASSERT_EQ(runner_.Commands().size(), 5u);
  EXPECT_EQ(SplitCommandLine(runner_.Commands()[4]).at(2), L"a/b");
}

TEST_F(TunnelW7Test, PollThatFindsTheEntryConnectsAndLogsTheAddressEveryTick) {
  InitWithWindow();
  Start();
  Ticks(2);
  WaitEvents(1);
  Online();
  Ticks(1);
  EXPECT_EQ(WaitEvents(2), (std::vector<Ev>{Msg(WM_TUNNEL_DIALING),
                                            WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.9")}));
  EXPECT_EQ(static_cast<unsigned long>(getIp_()), inet_addr("10.8.0.9"));
  Ticks(3);
  Pump(300);
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(CountLog("客户端PPP IP地址: 10.8.0.9\r\n"), 4u);
  EXPECT_EQ(CountLog("连接成功，分配客户端IP：10.8.0.9\r\n"), 0u);  // no such line in this build
}

TEST_F(TunnelW7Test, DialThatNeverComesUpFailsWith800OnTheSixteenthTick) {
  InitWithWindow();
  Start();
  Ticks(15);
  EXPECT_EQ(WaitEvents(1), std::vector<Ev>{Msg(WM_TUNNEL_DIALING)});
  Ticks(1);
  EXPECT_EQ(WaitEvents(2).back(), WithText(WM_TUNNEL_ERROR, 800, "fake error 800"));
  EXPECT_EQ(CountLog("连接失败，错误代码：800\r\n"), 1u);
  // A dial command that comes up later must not leave a line nobody uses.
  EXPECT_EQ(runner_.Commands().back(), SystemDir() + "\\rasdial.exe VelaVPN /DISCONNECT");
  Ticks(20);  // idle now: nothing counts
  Pump(300);
  EXPECT_EQ(events_.size(), 2u);
}

TEST_F(TunnelW7Test, CloseWhileConnectingKeepsTheTickCount) {
  InitWithWindow();
  Start();
  Ticks(10);
  close_();
  WaitEvents(3);
  EXPECT_EQ(events_[1], Msg(WM_TUNNEL_CLOSING));
  EXPECT_EQ(events_[2], Msg(WM_TUNNEL_DISCONNECTED, 33, 0));
  EXPECT_EQ(runner_.Commands().back(), SystemDir() + "\\rasdial.exe VelaVPN /DISCONNECT");
  Start();
  Ticks(5);
  WaitEvents(4);
  EXPECT_EQ(events_.size(), 4u);
  Ticks(1);  // 10 + 6 = 16
  EXPECT_EQ(WaitEvents(5).back(), WithText(WM_TUNNEL_ERROR, 800, "fake error 800"));
}

TEST_F(TunnelW7Test, DialWaitsForTheDisconnectCommandStartedBeforeIt) {
  // The system's disconnect command takes its time: a dial command started before it has
  // ended finds the old line "already connected" and dials nothing.
  InitWithWindow();
  Online();
  Start();
  Ticks(1);
  WaitEvents(2);
  runner_.holdProcesses = true;
  close_();
  EXPECT_EQ(WaitEvents(4).back(), Msg(WM_TUNNEL_DISCONNECTED, 33, 0));
  const std::string hangUp = SystemDir() + "\\rasdial.exe VelaVPN /DISCONNECT";
  const std::string dial = "\"" + SystemDir() + "\\rasdial.exe\" VelaVPN \"user\"";
  // The commands from the index on, once there are at least `count` of them (5 s at most).
  auto commandsAfter = [&](size_t from, size_t count = 0) {
    DWORD until = GetTickCount() + 5000;
    while (runner_.Commands().size() < from + count && GetTickCount() < until) Pump(20);
    std::vector<std::string> all = runner_.Commands(), out;
    for (size_t i = from; i < all.size(); ++i)
      out.push_back(all[i].compare(0, dial.size(), dial) == 0 ? "dial" : all[i]);
    return out;
  };
  size_t from = runner_.Commands().size() - 1;
  Start();
  EXPECT_EQ(WaitEvents(5).back(), Msg(WM_TUNNEL_DIALING));
  Pump(1000);
  EXPECT_EQ(commandsAfter(from), std::vector<std::string>{hangUp});
  runner_.EndProcesses();
  EXPECT_EQ(commandsAfter(from, 2), (std::vector<std::string>{hangUp, "dial"}));
  Ticks(1);
  EXPECT_EQ(WaitEvents(6).back(), WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.9"));

  // A close that comes in while the dial waits: the dial never starts; the next one waits
  // for the disconnect command of that close.
  close_();
  WaitEvents(8);
  Start();
  WaitEvents(9);
  close_();
  EXPECT_EQ(WaitEvents(11).back(), Msg(WM_TUNNEL_DISCONNECTED, 33, 0));
  EXPECT_EQ(CountLog("等待上次断开连接时收到断开请求，拨号取消.\r\n"), 1u);
  Start();
  WaitEvents(12);
  Pump(500);
  EXPECT_EQ(commandsAfter(from),
            (std::vector<std::string>{hangUp, "dial", hangUp, hangUp}));
  runner_.EndProcesses();
  EXPECT_EQ(commandsAfter(from, 5),
            (std::vector<std::string>{hangUp, "dial", hangUp, hangUp, "dial"}));
}

TEST_F(TunnelW7Test, LostConnectionIsReportedAsOneOne) {
  InitWithWindow();
  Online();
  Start();
  Ticks(1);
  WaitEvents(2);
  Offline();
  Ticks(1);
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_DISCONNECTED, 1, 1));
  EXPECT_EQ(getIp_(), 0);
}

TEST_F(TunnelW7Test, PollAfterACloseDoesNotBringTheOldAddressBack) {
  InitWithWindow();
  Online();
  Start();
  Ticks(1);
  WaitEvents(2);
  close_();
  WaitEvents(4);
  ASSERT_EQ(getIp_(), 0);
  // The system's hang-up does not wait: the dying connection is still listed.
  Ticks(1);
  Pump(500);
  EXPECT_EQ(getIp_(), 0);
  EXPECT_EQ(events_.size(), 4u);
}

TEST_F(TunnelW7Test, TicksDoNotQueueBehindABlockedTick) {
  InitWithWindow();
  Online();
  ras_.projectionFailures = 4;  // the first tick blocks for about four seconds
  Start();
  DWORD t0 = GetTickCount();
  for (int i = 0; i < 10; ++i) {
    timer_();
    Pump(100);
  }
  while (GetTickCount() - t0 < 4500) Pump(100);
  {
    std::lock_guard<std::mutex> g(ras_.lock);
    EXPECT_EQ(ras_.projectionQueries, 4);  // the nine ticks sent meanwhile were dropped
  }
  // Nothing was left queued: the next tick runs at once.
  Ticks(1);
  EXPECT_EQ(WaitEvents(2).back(), WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.9"));
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.projectionQueries, 5);
}

TEST_F(TunnelW7Test, EntryNameDifferingOnlyInCaseIsNotRecognised) {
  InitWithWindow();
  Online("velavpn");
  Start();
  Ticks(3);
  Pump(300);
  EXPECT_EQ(events_, std::vector<Ev>{Msg(WM_TUNNEL_DIALING)});
  std::lock_guard<std::mutex> g(ras_.lock);
  EXPECT_EQ(ras_.projectionQueries, 0);
}

TEST_F(TunnelW7Test, ConnectionListGrowsItsBufferAndGivesUpAfterFiveTries) {
  InitWithWindow();
  Online();
  ras_.enumTooSmall = 2;
  Start();
  Ticks(1);
  EXPECT_EQ(WaitEvents(2).back(), WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.9"));
  ras_.enumTooSmall = 5;
  Ticks(1);
  WaitTickDone();
  EXPECT_EQ(CountLog("RasEnumConnections failed: Error = 603\r\n"), 1u);
  // A list that cannot be read is no lost line; one that lacks the entry is.
  ras_.enumError = ERROR_NOT_ENOUGH_MEMORY;
  Ticks(1);
  WaitTickDone();
  Pump(200);
  EXPECT_EQ(events_.size(), 2u);
  ras_.enumError = 0;
  Offline();
  Ticks(1);
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_DISCONNECTED, 1, 1));
}

TEST_F(TunnelW7Test, AddressNotKnownAfterFourTriesMeansNotFound) {
  InitWithWindow();
  Online();
  ras_.projectionFailures = 4;
  ras_.projectionError = 731;
  Start();
  DWORD t0 = GetTickCount();
  Ticks(1);
  Ticks(1);
  WaitEvents(2, 15000);
  EXPECT_GE(GetTickCount() - t0, 3900u);  // a second after each failed try
  EXPECT_EQ(CountLog("获取客户端PPP IP地址失败(731).\r\n"), 1u);
  EXPECT_EQ(events_.back(), WithText(WM_TUNNEL_CONNECTED, 0, "10.8.0.9"));  // second tick
}

TEST_F(TunnelW7Test, ExitWhileConnectedStartsTheDisconnectCommand) {
  InitWithWindow();
  Online();
  Start();
  Ticks(1);
  WaitEvents(2);
  Uninit();
  EXPECT_EQ(WaitEvents(3).back(), Msg(WM_TUNNEL_CLOSING));
  EXPECT_EQ(runner_.Commands().back(), SystemDir() + "\\rasdial.exe VelaVPN /DISCONNECT");
  EXPECT_EQ(LogLines().back(), "Worker thread ended!!\r\n");
}
#endif

}  // namespace
