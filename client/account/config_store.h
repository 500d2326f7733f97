// The client's one settings object: Windows version, program and cache directories, the
// service's addresses, the lists of the service (login servers, lines, games), the user's
// settings in "user.ini", the account of the logged-in user, the route templates and the
// background worker to which the other parts hand their jobs. Built during static
// construction, before any window exists; reached through ConfigStore().
//
// No lock guards it: fields are written by one thread before the message that makes another
// thread read them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>
#include <vector>

#include "client/accel/app_item.h"
#include "client/accel/server_list.h"
#include "client/account/login_svr.h"
#include "common/service_hosts.h"
#include "common/ui_thread.h"
#include "common/xml_doc.h"

class CConfigStore;

// Starts the background worker of a store whose construction is otherwise complete, and
// returns its running thread (null when it could not be started). The program passes the
// real one (StartUiWorker of the worker); the store itself knows no worker, so a store
// built without a starter runs no thread at all.
typedef CUiThread* (*WorkerStarter)(CConfigStore* store);

class CConfigStore {
 public:
  // The product's store: the running program's file, as GetModuleFileNameA reports it.
  explicit CConfigStore(WorkerStarter starter = nullptr);
  // A store for the program file at this path (its directory is the program directory; the
  // version resource is read from it). An empty path stands for a program path that could
  // not be read. The starter, when given, starts the worker as the last construction step.
  explicit CConfigStore(const std::string& programFile, WorkerStarter starter = nullptr);
  // Ends the worker (its end saves the settings) and waits until its thread has ended
  // before anything else goes: the worker uses the store until its last instruction. The
  // product's store is never destroyed: it lives until the process ends, like the worker.
  ~CConfigStore();
  CConfigStore(const CConfigStore&) = delete;
  CConfigStore& operator=(const CConfigStore&) = delete;

  // PostThreadMessageA to the background worker. FALSE while there is no worker thread.
  BOOL PostToWorker(UINT message, WPARAM wParam, LPARAM lParam) const;

  // "%s\Cache\%s" with the program directory and the name, in 500 bytes. A path that does
  // not fit is refused (empty) rather than cut into the name of some other file.
  std::string CachePath(const char* name) const;

  // user.ini, then the Service part of servers.xml, then notaccel.xml and accel.xml. 0 when
  // servers.xml has no Data element (the user settings are loaded all the same), else 1.
  int LoadSettings();
  // user.ini, then the two user documents, each only if it was loaded (or created in its
  // place): a store that never loaded the user's settings holds nothing of them, and
  // saving would wipe them. False when a write failed.
  bool SaveSettings();

  const CAppItem* FindGame(int id) const { return FindAppById(m_games, id); }

  static bool IsOnline();
  // When online, the download of url into path (replaced only by a complete answer within
  // the list deadline, a document whose root element is root).
  static bool DownloadWhenOnline(const std::string& url, const std::string& path,
                                 const char* root);
  // The DNS servers' addresses, in the system's order. False when they cannot be read.
  static bool GetDnsServers(std::vector<std::string>& servers);

  // Addresses on the service's hosts: lists on port 8080 of the client host, pages on the
  // client host, the public site on the web host.
  std::string ListUrl(const char* path) const;
  std::string ClientPageUrl(const char* path) const;
  std::string WebPageUrl(const char* path) const;
  const ServiceHosts& Hosts() const { return m_hosts; }
  const char* ProgramDir() const { return m_programDir; }

  // A user name that can be sent at all: it goes unescaped into the "uid" cookie, the error
  // page's query and the upload form, where ';' and ',' add cookie attributes or values and
  // CR or LF forge form parts.
  static bool IsUsableUserName(const std::string& name);

  // "major.minor.build" of the file's version resource and its number major * 10000 +
  // minor * 100 + build; "None VerSion Supprot" and 0 without one.
  static int ReadProgramVersion(const std::string& file, std::string* text);

  // Fields, in the order of the settings object.
  OSVERSIONINFOA m_osVersion;
  // The background worker; started last in the construction, by the program's starter.
  CUiThread* m_pWorker = nullptr;
  std::string m_accountUser;
  std::string m_accountPassword;
  std::string m_loginCode;
  std::string m_accountKind;
  std::string m_expiry;
  std::vector<CLoginSvr> m_loginServers;
  CServerList m_lines;
  std::vector<CAppItem> m_games;
  std::string m_siteUrl;      // the product's public web site, no path
  std::string m_helpUrl;
  std::string m_registerUrl;
  std::string m_errorUrl;
  int m_programVersion = 0;
  std::string m_updateUrl;
  MIB_IPFORWARDROW m_directRoute;  // copied from the former default route
  MIB_IPFORWARDROW m_tunnelRoute;  // copied from the route through the tunnel
  std::string m_defaultGateway;    // next hop of the former default route, dotted
  std::string m_tunnelIp;          // the tunnel's client address, dotted
  int m_selectedLine = -1;         // below 0: none chosen in this run
  int m_modeApp = -1;              // MODE_APP
  int m_exitNotify = 1;            // EXIT_NOTIFY
  int m_remember = 0;              // REMEMBER
  int m_autoLogin = 0;             // AUTO_LOGIN
  int m_runCounter = 0;            // RUN_COUNTER, this start included once loaded
  std::string m_userName;          // NAME
  std::string m_password;          // PASSWD, plain in memory
  int m_connSrv = 0;               // CONN_SRV
  CXmlDoc m_notaccel;
  CXmlDoc m_accel;
  char m_programDir[600];

 private:
  void Construct(const std::string& programFile, WorkerStarter starter);
  void LoadUserIni();
  bool SaveUserIni();
  void LoadUserDocument(CXmlDoc& doc, const char* name, bool* ready);

  ServiceHosts m_hosts;
  // A document that was never loaded nor created holds nothing of the user's: saving it
  // would destroy its file.
  bool m_userIniLoaded = false;
  bool m_notaccelReady = false;
  bool m_accelReady = false;
  CConfigStore* m_previous = nullptr;
};

// The one store of the process. In the program it is the store built during static
// construction; while another store object exists (tests), the newest one.
CConfigStore& ConfigStore();
// The program's first call, during static construction: builds the program's store with
// the worker started by this starter as its last step. Should the store already exist
// without a worker (an earlier call without a starter), the worker is started now.
CConfigStore& ConfigStore(WorkerStarter starter);
