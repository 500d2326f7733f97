#include "tools/dialup/shared_state.h"

#include <ras.h>
#include <raserror.h>

#include <cstring>

#include "common/text_format.h"
#include "tools/dialup/auth_check.h"

namespace dialup {
namespace {

const uint32_t kMagic = 0x31534441;  // "ADS1"
const uint32_t kVersion = 2;
const char kMutexName[] = "Local\\AccelDialupStateMutex";
const DWORD kLockWaitMs = 5000;
const uint32_t kFirstHost = 2;  // .1 is the server's end of the tunnel
const uint32_t kLastHost = 254;

// The error of a dial whose process ended before the dial did.
const uint32_t kOwnerGoneError = ERROR_PORT_DISCONNECTED;
// The error of a link that went down under a connection: the far end closed it.
const uint32_t kDroppedError = ERROR_REMOTE_DISCONNECTION;

void StatePath(char* path, size_t cap) {
  DWORD n = GetEnvironmentVariableA("ACCEL_DIALUP_STATE", path, static_cast<DWORD>(cap));
  if (n > 0 && n < cap) return;
  char dir[MAX_PATH];
  n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n >= sizeof dir) CopyCut(dir, sizeof dir, ".\\");
  FormatCut(path, cap, "%saccel_dialup_state.dat", dir);
}

void ResetTable(StateTable* t) {
  std::memset(t, 0, sizeof *t);
  t->magic = kMagic;
  t->version = kVersion;
  t->recordSize = sizeof(ConnRecord);
  t->recordCount = kMaxConnections;
  t->nextId = 1;
  t->nextHost = kFirstHost;
}

bool ProcessGone(uint32_t pid) {
  if (pid == GetCurrentProcessId()) return false;
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!h) return GetLastError() == ERROR_INVALID_PARAMETER;
  bool gone = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return gone;
}

// Text fields are read from a file that anything may have written: keep them terminated.
void TerminateTexts(ConnRecord* r) {
  r->entry[sizeof r->entry - 1] = '\0';
  r->phonebook[sizeof r->phonebook - 1] = '\0';
  r->deviceType[sizeof r->deviceType - 1] = '\0';
  r->deviceName[sizeof r->deviceName - 1] = '\0';
  r->phone[sizeof r->phone - 1] = '\0';
  r->user[sizeof r->user - 1] = '\0';
  r->ip[sizeof r->ip - 1] = '\0';
  r->serverIp[sizeof r->serverIp - 1] = '\0';
}

}  // namespace

uint64_t NowFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

CSharedState::CSharedState() : m_mutex(nullptr), m_locked(false), m_dirty(false),
                               m_table(new StateTable) {
  ResetTable(m_table.get());
  m_mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (!m_mutex) return;
  DWORD w = WaitForSingleObject(m_mutex, kLockWaitMs);
  // An abandoned mutex still hands over ownership; a torn file is caught by Load.
  m_locked = w == WAIT_OBJECT_0 || w == WAIT_ABANDONED;
  if (!m_locked) return;
  Load();
  Housekeep();
}

CSharedState::~CSharedState() {
  if (m_locked && m_dirty) {
    char path[MAX_PATH];
    StatePath(path, sizeof path);
    HANDLE f = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, m_table.get(), sizeof(StateTable), &written, nullptr);
      SetEndOfFile(f);
      CloseHandle(f);
    }
  }
  if (m_locked) ReleaseMutex(m_mutex);
  if (m_mutex) CloseHandle(m_mutex);
  for (const std::string& client : m_droppedTunnels) TunnelDown(client.c_str());
}

void CSharedState::Load() {
  char path[MAX_PATH];
  StatePath(path, sizeof path);
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;  // no file yet: an empty table
  std::unique_ptr<StateTable> read(new StateTable);
  DWORD got = 0;
  BOOL ok = ReadFile(f, read.get(), sizeof(StateTable), &got, nullptr);
  CloseHandle(f);
  if (!ok || got != sizeof(StateTable) || read->magic != kMagic || read->version != kVersion ||
      read->recordSize != sizeof(ConnRecord) || read->recordCount != kMaxConnections) {
    m_dirty = true;  // not ours or torn: start again with an empty table
    return;
  }
  for (ConnRecord& r : read->rec) TerminateTexts(&r);
  if (read->nextHost < kFirstHost || read->nextHost > kLastHost) read->nextHost = kFirstHost;
  if (read->nextId == 0) read->nextId = 1;
  m_table.swap(read);
}

void CSharedState::Housekeep() {
  uint64_t now = NowFileTime();
  // A scenario drops every line that is up at a moment of its choosing by leaving the file
  // "<state>.drop"; whoever looks next takes it away and drops them, interfaces too.
  char path[MAX_PATH];
  StatePath(path, sizeof path);
  bool dropNow = DeleteFileA((std::string(path) + ".drop").c_str()) != FALSE;
  for (ConnRecord& r : m_table->rec) {
    if (r.id == 0) continue;
    bool dropped = r.dropDeadline != 0 && now >= r.dropDeadline;
    if (r.status == kConnHangingUp && now >= r.hangupDeadline) {
      std::memset(&r, 0, sizeof r);
      m_dirty = true;
    } else if (r.status == kConnConnected && (dropped || dropNow)) {
      if (dropNow && (r.flags & kConnTunnelUp)) m_droppedTunnels.push_back(r.ip);
      // As when the line goes dead: the connection leaves the list and its status shows
      // the disconnected state with the error, until someone hangs the handle up.
      r.status = kConnFailed;
      r.rasState = RASCS_Disconnected;
      r.error = kDroppedError;
      m_dirty = true;
    } else if (r.status == kConnDialing && ProcessGone(r.ownerPid)) {
      r.status = kConnFailed;
      r.error = kOwnerGoneError;
      m_dirty = true;
    } else if (r.status > kConnHangingUp) {
      std::memset(&r, 0, sizeof r);
      m_dirty = true;
    }
  }
}

ConnRecord* CSharedState::Find(uint32_t id) {
  if (id == 0) return nullptr;
  for (ConnRecord& r : m_table->rec) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

ConnRecord* CSharedState::Allocate() {
  ConnRecord* slot = nullptr;
  for (ConnRecord& r : m_table->rec) {
    if (r.id == 0) {
      slot = &r;
      break;
    }
  }
  if (!slot) {
    for (ConnRecord& r : m_table->rec) {
      if (r.status == kConnFailed) {
        slot = &r;
        break;
      }
    }
  }
  if (!slot) return nullptr;
  std::memset(slot, 0, sizeof *slot);
  // Handle values are never 0 and never reused while the old one may still be held.
  uint32_t id = m_table->nextId;
  while (id == 0 || Find(id)) ++id;
  slot->id = id;
  m_table->nextId = id + 1;
  m_dirty = true;
  return slot;
}

void CSharedState::NextClientIp(char* ip, size_t cap) {
  uint32_t n = m_table->nextHost;
  if (n < kFirstHost || n > kLastHost) n = kFirstHost;
  FormatCut(ip, cap, "10.8.0.%u", static_cast<unsigned>(n));
  m_table->nextHost = n >= kLastHost ? kFirstHost : n + 1;
  m_dirty = true;
}

}  // namespace dialup
