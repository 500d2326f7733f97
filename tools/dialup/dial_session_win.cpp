#include "tools/dialup/dial_session.h"

#include <raserror.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/text_format.h"
#include "tools/dialup/auth_check.h"
#include "tools/dialup/phonebook.h"
#include "tools/dialup/shared_state.h"

namespace dialup {
namespace {

const DWORD kWindowNotifier = 0xFFFFFFFF;
const DWORD kDefaultPauseMs = 100;
const DWORD kMaxPauseMs = 60000;
const DWORD kResolveError = 868;  // the server's name did not resolve
const char kServerIp[] = "10.8.0.1";

struct DialJob {
  uint32_t id;
  DialRequest req;
  std::string host;
  DWORD pauseMs;
  DWORD forced;
  DWORD dropMs;
  bool neverUp;
  bool noInterface;
  bool alreadyConnected;
  bool notifying;  // a type-2 notifier answering 0 asks for no more notifications
};

HRASCONN HandleOf(uint32_t id) { return reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(id)); }

void Notify(DialJob* job, RASCONNSTATE state, DWORD error) {
  if (!job->notifying || !job->req.notifier) return;
  HRASCONN h = HandleOf(job->id);
  switch (job->req.notifierType) {
    case 0:
      reinterpret_cast<RASDIALFUNC>(job->req.notifier)(WM_RASDIALEVENT, state, error);
      break;
    case 1:
      reinterpret_cast<RASDIALFUNC1>(job->req.notifier)(h, WM_RASDIALEVENT, state, error, 0);
      break;
    case 2:
      if (reinterpret_cast<RASDIALFUNC2>(job->req.notifier)(job->req.callbackId,
                                                            job->req.subEntry, h,
                                                            WM_RASDIALEVENT, state, error,
                                                            0) == 0) {
        job->notifying = false;
      }
      break;
    case kWindowNotifier: {
      UINT msg = RegisterWindowMessageA(RASDIALEVENT);
      PostMessageA(static_cast<HWND>(job->req.notifier), msg ? msg : WM_RASDIALEVENT,
                   static_cast<WPARAM>(state), static_cast<LPARAM>(error));
      break;
    }
  }
}

// Records the state if the connection is still being dialed by us; false once it was hung
// up (the walk then ends without further notifications, as after a real hang-up).
bool Advance(uint32_t id, RASCONNSTATE state) {
  CSharedState st;
  ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  if (!r || r->status != kConnDialing) return false;
  r->rasState = state;
  st.Save();
  return true;
}

bool Fail(uint32_t id, RASCONNSTATE state, DWORD error) {
  CSharedState st;
  ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  if (!r || r->status != kConnDialing) return false;
  r->status = kConnFailed;
  r->rasState = state;
  r->error = error;
  st.Save();
  return true;
}

bool StillDialing(uint32_t id) {
  CSharedState st;
  const ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  return r && r->status == kConnDialing;
}

// The connection's addresses, given while it is still being dialed: the tunnel interface
// must carry them before anyone sees the connection up.
bool AssignAddresses(uint32_t id, char* client, size_t cap) {
  CSharedState st;
  ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  if (!r || r->status != kConnDialing) return false;
  st.NextClientIp(r->ip, sizeof r->ip);
  CopyCut(r->serverIp, sizeof r->serverIp, kServerIp);
  CopyCut(client, cap, r->ip);
  st.Save();
  return true;
}

bool Connect(uint32_t id, DWORD dropMs, bool tunnelUp) {
  CSharedState st;
  ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  if (!r || r->status != kConnDialing) return false;
  if (tunnelUp) r->flags |= kConnTunnelUp;
  r->status = kConnConnected;
  r->rasState = RASCS_Connected;
  // The drop is noticed by whoever looks next, in any process, as a dead line is.
  r->dropDeadline = dropMs ? NowFileTime() + static_cast<uint64_t>(dropMs) * 10000 : 0;
  st.Save();
  return true;
}

DWORD FailAt(DialJob* job, RASCONNSTATE state, DWORD error) {
  if (!Fail(job->id, state, error)) return ERROR_USER_DISCONNECTION;
  Notify(job, state, error);
  return error;
}

// One ordinary state: recorded, reported, then a pause.
bool Step(DialJob* job, RASCONNSTATE state) {
  if (!Advance(job->id, state)) return false;
  Notify(job, state, 0);
  if (job->pauseMs) Sleep(job->pauseMs);
  return true;
}

DWORD Walk(DialJob* job) {
  if (job->alreadyConnected) {
    Notify(job, RASCS_Connected, 0);
    return 0;
  }
  if (!Step(job, RASCS_OpenPort) || !Step(job, RASCS_PortOpened)) return ERROR_USER_DISCONNECTION;

  // Reaching the server: its name, then the stand-in that plays it.
  AuthResult auth = kAuthDenied;
  if (job->host.empty()) return FailAt(job, RASCS_ConnectDevice, kResolveError);
  if (job->neverUp) {
    // A server that never answers: the dial sits at this state until it is hung up.
    if (!Advance(job->id, RASCS_ConnectDevice)) return ERROR_USER_DISCONNECTION;
    Notify(job, RASCS_ConnectDevice, 0);
    while (StillDialing(job->id)) Sleep(50);
    return ERROR_USER_DISCONNECTION;
  }
  if (job->forced && job->forced != ERROR_AUTHENTICATION_FAILURE) {
    return FailAt(job, RASCS_ConnectDevice, job->forced);
  }
  if (!Advance(job->id, RASCS_ConnectDevice)) return ERROR_USER_DISCONNECTION;
  auth = CheckCredentials(job->req.user.c_str(), job->req.password.c_str());
  if (auth == kAuthUnreachable) return FailAt(job, RASCS_ConnectDevice, ERROR_NO_ANSWER);
  if (!Step(job, RASCS_ConnectDevice) || !Step(job, RASCS_DeviceConnected) ||
      !Step(job, RASCS_AllDevicesConnected)) {
    return ERROR_USER_DISCONNECTION;
  }

  if (job->forced == ERROR_AUTHENTICATION_FAILURE || auth != kAuthOk) {
    return FailAt(job, RASCS_Authenticate, ERROR_AUTHENTICATION_FAILURE);
  }
  if (!Step(job, RASCS_Authenticate) || !Step(job, RASCS_AuthNotify) ||
      !Step(job, RASCS_AuthProject) || !Step(job, RASCS_Authenticated)) {
    return ERROR_USER_DISCONNECTION;
  }
  char client[16];
  if (!AssignAddresses(job->id, client, sizeof client)) return ERROR_USER_DISCONNECTION;
  bool tunnelUp = !job->noInterface && TunnelUp(client, kServerIp, job->dropMs);
  if (!Connect(job->id, job->dropMs, tunnelUp)) {
    // Hung up while the interface was being made: nobody else knows it is there.
    if (tunnelUp) TunnelDown(client);
    return ERROR_USER_DISCONNECTION;
  }
  Notify(job, RASCS_Connected, 0);
  return 0;
}

DWORD WINAPI DialThread(LPVOID param) {
  std::unique_ptr<DialJob> job(static_cast<DialJob*>(param));
  // The thread holds its own reference on the module it runs in, so that a caller who
  // unloads the library while a dial is under way does not pull the code from under it.
  // (Linked into a program, the code goes away only with the process.)
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&DialThread), &self);
  if (self == GetModuleHandleA(nullptr)) self = nullptr;
  Walk(job.get());
  job.reset();
  if (self) FreeLibraryAndExitThread(self, 0);
  return 0;
}

bool SameConnection(const ConnRecord& r, const std::string& entry, const std::string& pbk) {
  return r.id != 0 && (r.status == kConnDialing || r.status == kConnConnected) &&
         lstrcmpiA(r.entry, entry.c_str()) == 0 && lstrcmpiA(r.phonebook, pbk.c_str()) == 0;
}

void Forget(uint32_t id) {
  CSharedState st;
  ConnRecord* r = st.Locked() ? st.Find(id) : nullptr;
  if (!r) return;
  std::memset(r, 0, sizeof *r);
  st.Save();
}

}  // namespace

DWORD EnvNumber(const char* name, DWORD fallback) {
  char buf[32];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return fallback;
  char* end = nullptr;
  unsigned long v = std::strtoul(buf, &end, 10);
  return end != buf && *end == '\0' ? static_cast<DWORD>(v) : fallback;
}

bool EnvSwitch(const char* name) {
  char buf[32];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  if (n >= sizeof buf) return true;  // a long value is not "0"
  return n > 0 && std::strcmp(buf, "0") != 0;
}

DWORD Dial(const DialRequest& request, HRASCONN* handle) {
  DWORD forced = EnvNumber("ACCEL_DIALUP_FAIL", 0);
  if (forced == ERROR_DIAL_ALREADY_IN_PROGRESS) return forced;

  std::string pbk = PhonebookPath(request.phonebook.c_str());
  RASENTRYA entry;
  entry.dwSize = sizeof entry;
  DWORD err = LoadEntry(pbk, request.entry, &entry);
  if (err) return err;

  std::unique_ptr<DialJob> job(new DialJob);
  job->req = request;
  job->host = request.phone.empty() ? std::string(entry.szLocalPhoneNumber) : request.phone;
  job->pauseMs = EnvNumber("ACCEL_DIALUP_DELAY_MS", kDefaultPauseMs);
  if (job->pauseMs > kMaxPauseMs) job->pauseMs = kMaxPauseMs;
  job->forced = forced;
  job->dropMs = EnvNumber("ACCEL_DIALUP_DROP_MS", 0);
  job->neverUp = EnvSwitch("ACCEL_DIALUP_NEVER_UP");
  job->noInterface = EnvSwitch("ACCEL_DIALUP_NO_INTERFACE");
  job->alreadyConnected = false;
  job->notifying = true;
  {
    CSharedState st;
    if (!st.Locked()) return ERROR_RASMAN_CANNOT_INITIALIZE;
    for (ConnRecord& r : st.Table().rec) {
      if (!SameConnection(r, request.entry, pbk)) continue;
      // The service dials one entry once: a second dial waits for the first, a dial of a
      // connected entry hands back the connection.
      if (r.status == kConnDialing) return ERROR_DIAL_ALREADY_IN_PROGRESS;
      job->id = r.id;
      job->alreadyConnected = true;
      break;
    }
    if (!job->alreadyConnected) {
      ConnRecord* r = st.Allocate();
      if (!r) return ERROR_PORT_NOT_AVAILABLE;
      r->status = kConnDialing;
      r->rasState = RASCS_OpenPort;
      r->ownerPid = GetCurrentProcessId();
      CopyCut(r->entry, sizeof r->entry, request.entry.c_str());
      CopyCut(r->phonebook, sizeof r->phonebook, pbk.c_str());
      CopyCut(r->deviceType, sizeof r->deviceType, entry.szDeviceType);
      CopyCut(r->deviceName, sizeof r->deviceName, entry.szDeviceName);
      CopyCut(r->phone, sizeof r->phone, job->host.c_str());
      CopyCut(r->user, sizeof r->user, request.user.c_str());
      job->id = r->id;
      st.Save();
    }
  }
  *handle = HandleOf(job->id);

  if (!request.notifier) return Walk(job.get());

  bool fresh = !job->alreadyConnected;
  uint32_t id = job->id;
  HANDLE thread = CreateThread(nullptr, 0, DialThread, job.get(), 0, nullptr);
  if (!thread) {
    if (fresh) Forget(id);
    *handle = nullptr;
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  job.release();  // the thread owns it now
  CloseHandle(thread);
  return 0;
}

}  // namespace dialup
