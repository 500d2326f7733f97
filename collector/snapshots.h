// The collector's two views of the machine, and its one-second tick. Under Wine the TCP
// table names no owning processes and the process list holds only Wine's own programs, and
// a test must not wait fifteen seconds for a pass: tests put their own behind these.
#pragma once

#include <windows.h>

#include <vector>

#include "collector/scan_pass.h"

class ISnapshots {
 public:
  virtual ~ISnapshots() {}
  // The owner-pid TCP table of IPv4, sorted. False (rows empty) when it could not be read.
  virtual bool TcpRows(std::vector<TcpRow>* rows) = 0;
  // The first records of a process snapshot, at most limit. False (records empty) when no
  // snapshot could be taken.
  virtual bool Processes(std::vector<ProcessRecord>* records, size_t limit) = 0;
};

class ITickSleep {
 public:
  virtual ~ITickSleep() {}
  // Waits ms milliseconds. The worker goes on while this is true; the system's sleep
  // always is.
  virtual bool Sleep(DWORD ms) = 0;
};

// GetExtendedTcpTable and a Tool Help snapshot.
class CSystemSnapshots : public ISnapshots {
 public:
  bool TcpRows(std::vector<TcpRow>* rows) override;
  bool Processes(std::vector<ProcessRecord>* records, size_t limit) override;
};

class CSystemSleep : public ITickSleep {
 public:
  bool Sleep(DWORD ms) override;
};
