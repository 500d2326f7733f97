// One run of the real accelclient.exe for the end-to-end scenarios: a program directory laid
// out as it ships (client, both tunnel modules, the phonebook) plus the simulated dial-up
// service, pointed at the service stand-in on 127.0.0.1; the client started as its own
// process and driven from outside through the GUI driver.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/gui_driver/gui_driver.h"

namespace e2e {

// Texts the scenarios wait for (GBK, as the client shows them).
extern const char kTitle[];
extern const char kLineDialogTitle[];

// Timing budgets: a client start under Wine takes a few seconds; a dial through the
// simulated service a few more.
const DWORD kStartMs = 30000;
const DWORD kStepMs = 10000;
const DWORD kDialMs = 30000;
// The first main window in a fresh Wine prefix takes the better part of a minute (seen: 44 s).
const DWORD kFirstFrameMs = 120000;
// The longest a busy window may take to answer. Its own window work (the game launch question
// it opens once connected) took under 60 ms on the 64-bit lane; on the emulated 32-bit lane
// 10 to 80 ms in runs here, and 200 ms in one run beside the fuzzers. A window that waited on
// the network would take 1.5 s and more (the account check the scenario slows), above either
// limit.
const DWORD kAnswerMs = sizeof(void*) == 4 ? 800 : 200;
// The longest a dropped line may go unnoticed. The Windows 7 module polls on the one-second
// tick and the XP one checks twice a tick apart: 0.05 to 2 s on the 64-bit lane, also beside
// the fuzzers. On the emulated 32-bit lane a poll can outlast the tick, and the tick that
// comes meanwhile is dropped: 1.9 s and, once beside the fuzzers, 4.1 s. A module that does
// not poll never notices.
const DWORD kNoticeMs = sizeof(void*) == 4 ? 8000 : 4000;

class ClientSession {
 public:
  // tag names the program directory; windowsVersion is Wine's name ("winxp", "win7"), or
  // null for the prefix's default.
  ClientSession(const char* tag, const char* windowsVersion);
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  const std::string& Dir() const { return m_dir; }
  std::string CachePath(const char* file) const { return m_dir + "\\Cache\\" + file; }
  // user.ini written before the start (section User, as the client writes it).
  bool WriteUserIni(const std::string& body);
  // An environment variable for the client and what it starts (set before Start; a null
  // value removes it).
  void SetEnv(const char* name, const char* value);

  bool Start();
  // Ends the client the hard way, as a crash or the task manager does (exit code 99).
  void Kill();
  // Drops every line of the run that is up now, as a dead link does: no word from the
  // dial-up service, the tunnel interface gone with its routes.
  bool DropLines() const;
  DWORD Pid() const { return m_pi.dwProcessId; }
  bool Running() const;
  bool WaitExit(DWORD ms);
  DWORD ExitCode() const;

  // The login dialog, with its title checked.
  HWND WaitLogin(DWORD ms = kStartMs);
  // Types user and password into the login dialog and presses 登录.
  bool SubmitLogin(HWND login, const std::string& user, const std::string& password);
  // Logs in and waits for the main frame; null when it does not come.
  HWND LoginToMain(const std::string& user, const std::string& password);
  HWND MainFrame(DWORD ms = kStepMs);
  // The acceleration page: the child dialog holding the connect button, once its start-up is
  // over (it shows the account last; the frame is visible while it still builds its pages).
  HWND AccelPage(HWND frame);
  HWND Control(HWND root, int id) { return gui::WaitControl(root, id, kStepMs); }

  // Runs the line dialog from the page's line button and chooses the line with this id.
  // The latency the dialog measured is returned in *latency.
  bool ChooseLine(HWND page, LPARAM lineId, std::string* latency);
  // The same in a line dialog that something else has opened.
  bool PickLine(LPARAM lineId, std::string* latency);

  // The command recorder put in place of the prefix's sc.exe, net.exe, notepad.exe (system
  // directory) and explorer.exe (Windows directory) until the session ends, and as
  // browser.exe in the program directory: what the client starts there is caught, not run.
  // The originals wait beside them (NAME.e2e-original) and survive a killed run.
  // Commands() is every command line caught so far, one a line. The planted copy lies
  // under those names and those of the report's programs in the program directory and in
  // the client's start folder (then a folder of its own); Planted() is what ran of it.
  bool CatchCommands();
  std::string Commands() const;
  std::string Planted() const;
  // Waits until a caught command line holds `part`.
  bool WaitCommand(const std::string& part, DWORD ms) const;

  // Every message box of the client so far answered; the one awaited.
  gui::MessageBoxInfo WaitBox(DWORD ms = kStepMs) { return gui::WaitMessageBox(Pid(), ms); }

  // The session's run log (Cache\run.log), for failure messages.
  std::string RunLog() const;

 private:
  bool Layout();

  std::string m_dir;
  std::string m_startDir;  // the client's current directory; the program's when empty
  std::vector<std::pair<std::string, std::string>> m_restore;  // (prefix's file, its copy)
  std::string m_version;
  std::vector<std::string> m_env;  // variables set for this run, unset when it ends
  PROCESS_INFORMATION m_pi;
  bool m_laidOut;
};

// The stand-in's record: how many requests for a path (HTTP path or "login") it holds, and
// whether one of them, for a path, carries a query with `part` in it.
size_t Requests(const char* path);
bool RequestWithQuery(const char* path, const std::string& part);

// Whether this run has its simulated network (scripts/netns.sh): the namespace's kernel
// table, the PC's interface lan0 and, while connected, the tunnel's ppp0.
bool Netsim();
// The namespace's kernel routing table as the stand-in reads it from outside Wine, one
// "dest/prefix gateway interface" line a route (gateway 0.0.0.0: on-link), sorted.
std::vector<std::string> KernelRoutes();
// A place in the stand-in's packet record, taken before a scenario's traffic starts: what
// the record holds before it is another step's or another scenario's.
size_t PacketMark();
// The stand-in's record, from `mark` on, of the packets of one protocol ("udp", "tcp",
// "icmp") to dst:port (any port when it is negative) that reached an interface whose name starts with `iface` ("ppp": any
// tunnel). A packet the stand-in could not read whole is none of them.
std::vector<std::string> Packets(size_t mark, const std::string& iface, const char* proto,
                                 const std::string& dst, int port);

// The kernel's byte counters of one interface of the simulated network, read from /sys
// through Wine's view of the host's files: what the interface really carried.
struct IfBytes {
  unsigned long long tx = 0, rx = 0;
  DWORD at = 0;  // GetTickCount() of the reading
};
bool ReadIfBytes(const char* iface, IfBytes* out);

// Waits until no process of this Wine session runs the program `exe` (a file name, any case).
bool WaitNoProcess(const char* exe, DWORD ms);

// An expiry as the client shows it: local time of the seconds since 1970, "%Y-%m-%d %H:%M".
std::string LocalExpiry(unsigned long long seconds);

// Whether the notification area holds the icon (owner window, id): asked by modifying
// nothing of it, which the shell grants only for an icon it has.
bool TrayIconShown(HWND owner, UINT id);
// Waits until the desktop's tray shows a balloon with exactly this text (a balloon-style
// tooltip, whichever process draws it).
bool WaitTrayBalloon(const std::string& text, DWORD ms);

// HKLM value written for a scenario and removed again.
bool SetMachineString(const char* key, const char* name, const std::string& value,
                      DWORD type = REG_SZ);
void DeleteMachineKey(const char* key);

// While it lives, web addresses opened through the shell (http) go to the session's
// browser.exe (ClientSession::CatchCommands); the prefix's own handler comes back after.
class BrowserStandIn {
 public:
  explicit BrowserStandIn(const ClientSession& session);
  ~BrowserStandIn();

 private:
  std::string m_old;
  bool m_hadOld;
};

// Pixels of this colour inside the window's rectangle on the screen, in all and row by row
// (leaving `inset` pixels of the edges out, where frames are drawn); each channel within
// `tolerance` of the colour's, for text drawn smooth.
int ScreenPixels(HWND w, COLORREF color);
std::vector<int> ScreenPixelRows(HWND w, COLORREF color, int inset, int tolerance = 0);

// HKCU\Control Panel\Desktop LogPixels (0: remove the value, the default of 96).
void SetLogPixels(DWORD dpi);

}  // namespace e2e
