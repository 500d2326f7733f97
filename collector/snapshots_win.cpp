#include "collector/snapshots.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <cstddef>

#include "common/sized_table.h"

static_assert(sizeof(MIB_TCPROW_OWNER_PID) == sizeof(TcpRow), "the system's row layout");
#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 296, "the 32-bit process record");
#endif

bool CSystemSnapshots::TcpRows(std::vector<TcpRow>* rows) {
  rows->clear();
  SizedTable table;
  // Connections come and go between the size probe and the read (every game opens and closes
  // them): a pass goes without only when the table kept growing.
  DWORD rc = table.Load([](unsigned char* buffer, uint32_t* size) -> uint32_t {
    DWORD bytes = *size;
    DWORD code = GetExtendedTcpTable(buffer, &bytes, TRUE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    *size = bytes;
    return code;
  });
  if (rc != NO_ERROR) return false;
  size_t count =
      table.RowCount(offsetof(MIB_TCPTABLE_OWNER_PID, table), sizeof(MIB_TCPROW_OWNER_PID));
  rows->resize(count);
  for (size_t i = 0; i < count; ++i) {
    const MIB_TCPROW_OWNER_PID& r =
        reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.Data())->table[i];
    (*rows)[i] = TcpRow{r.dwState, r.dwLocalAddr, r.dwLocalPort,
                        r.dwRemoteAddr, r.dwRemotePort, r.dwOwningPid};
  }
  return true;
}

bool CSystemSnapshots::Processes(std::vector<ProcessRecord>* records, size_t limit) {
  records->clear();
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  // The walk stops at the limit without asking for the record after it.
  BOOL more = records->size() < limit && Process32First(snap, &pe);
  while (more) {
    ProcessRecord rec;
    rec.pid = pe.th32ProcessID;
    pe.szExeFile[sizeof pe.szExeFile - 1] = '\0';
    rec.exeFile = pe.szExeFile;
    records->push_back(rec);
    more = records->size() < limit && Process32Next(snap, &pe);
  }
  CloseHandle(snap);
  return true;
}

bool CSystemSleep::Sleep(DWORD ms) {
  ::Sleep(ms);
  return true;
}
