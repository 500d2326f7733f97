// The simulated service's connection table, shared by every process of the Wine session:
// a small binary file (by default %TEMP%\accel_dialup_state.dat, or the path in the
// environment variable ACCEL_DIALUP_STATE) read and rewritten whole under a named mutex.
// A file, not a memory mapping, because a connection must outlive the process that dialed
// it, as it does with the system's service: the stand-in dial command ends as soon as the
// connection is up, and the module that polls for it runs in another process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dialup {

enum ConnStatus : uint32_t {
  kConnFree = 0,
  kConnDialing = 1,
  kConnConnected = 2,
  kConnFailed = 3,     // the dial ended in an error, or the link dropped; the handle
                       // stays valid until hung up
  kConnHangingUp = 4,  // hung up; the handle goes invalid when hangupDeadline has passed
};

enum ConnFlags : uint32_t {
  // The stand-in made the tunnel interface for this connection: a hang-up removes it.
  kConnTunnelUp = 1,
};

// Fixed-width fields only, so that 32-bit and 64-bit processes share one file.
struct ConnRecord {
  uint64_t hangupDeadline;  // FILETIME units (UTC)
  uint64_t dropDeadline;    // a connection that is up drops at this time; 0: never
  uint32_t id;              // the connection handle's value; 0 for a free slot
  uint32_t status;          // ConnStatus
  uint32_t rasState;        // RASCONNSTATE last reported
  uint32_t error;           // error of a failed dial
  uint32_t ownerPid;        // process that runs the dial
  uint32_t flags;           // ConnFlags
  char entry[260];
  char phonebook[264];
  char deviceType[20];
  char deviceName[132];
  char phone[132];
  char user[260];
  char ip[16];
  char serverIp[16];
};

const uint32_t kMaxConnections = 32;

struct StateTable {
  uint32_t magic;
  uint32_t version;
  uint32_t recordSize;
  uint32_t recordCount;
  uint32_t nextId;
  uint32_t nextHost;  // last octet of the next client address, 2..254
  ConnRecord rec[kMaxConnections];
};

// One locked view of the table: the constructor takes the mutex and reads the file, the
// destructor writes it back when Save was called and releases the mutex. On the way in,
// dials whose process has gone are marked failed, connections whose drop time has come
// are marked dropped, and expired hang-ups are dropped.
class CSharedState {
 public:
  CSharedState();
  ~CSharedState();
  CSharedState(const CSharedState&) = delete;
  CSharedState& operator=(const CSharedState&) = delete;

  // False when the mutex could not be taken within a few seconds.
  bool Locked() const { return m_locked; }
  StateTable& Table() { return *m_table; }
  void Save() { m_dirty = true; }

  // The record of a handle value, or null (free slots and expired hang-ups never match).
  ConnRecord* Find(uint32_t id);
  // A free slot with a fresh id, cleared; failed dials are reclaimed when no slot is free.
  // Null when the table is full.
  ConnRecord* Allocate();
  // The next client address, "10.8.0.N" with N counting up from 2 and wrapping at 254.
  void NextClientIp(char* ip, size_t cap);

 private:
  void Load();
  void Housekeep();

  HANDLE m_mutex;
  bool m_locked;
  bool m_dirty;
  std::unique_ptr<StateTable> m_table;
  // Tunnel interfaces of lines dropped on request: removed once the lock is let go.
  std::vector<std::string> m_droppedTunnels;
};

// Current time in FILETIME units.
uint64_t NowFileTime();

}  // namespace dialup
