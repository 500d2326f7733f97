#include "client/diag/cmd_pipe.h"

#include <cstring>
#include <string>
#include <vector>

#include "client/diag/report_commands.h"

namespace {

const DWORD kReadChunk = 4096;

bool WriteAll(HANDLE file, const char* bytes, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

}  // namespace

void* AllocOutputChunk(size_t bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void FreeOutputChunk(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

CCmdPipe::CCmdPipe() : m_hRead(INVALID_HANDLE_VALUE), m_hWrite(INVALID_HANDLE_VALUE) {}

CCmdPipe::~CCmdPipe() { Close(); }

void CCmdPipe::Close() {
  if (m_hRead != INVALID_HANDLE_VALUE) CloseHandle(m_hRead);
  if (m_hWrite != INVALID_HANDLE_VALUE) CloseHandle(m_hWrite);
  m_hRead = INVALID_HANDLE_VALUE;
  m_hWrite = INVALID_HANDLE_VALUE;
}

int CCmdPipe::Run(const char* program, const char* commandLine, HANDLE outputFile, HWND window,
                  UINT message) {
  Close();
  if (!program || !*program || !commandLine) return -1;
  SECURITY_ATTRIBUTES sa;
  sa.nLength = sizeof sa;
  sa.lpSecurityDescriptor = nullptr;
  sa.bInheritHandle = TRUE;
  if (!CreatePipe(&m_hRead, &m_hWrite, &sa, 0)) {
    m_hRead = m_hWrite = INVALID_HANDLE_VALUE;
    return -1;
  }
  // Only the write end goes to the child: a child holding the read end too would keep the
  // pipe open after we stop reading.
  SetHandleInformation(m_hRead, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA si;
  std::memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = m_hWrite;
  si.hStdError = m_hWrite;
  PROCESS_INFORMATION pi;
  // CreateProcessA may write into the command line.
  std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
  if (!CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                      &pi)) {
    Close();
    return -1;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);

  if (outputFile != INVALID_HANDLE_VALUE && outputFile != nullptr) {
    std::string header = ReportHeader(commandLine);
    WriteAll(outputFile, header.data(), static_cast<DWORD>(header.size()));
  }

  if (window) {
    // With our copy of the write end gone, the read ends when the command (and whatever it
    // started with its output) has closed it.
    CloseHandle(m_hWrite);
    m_hWrite = INVALID_HANDLE_VALUE;
    char buffer[kReadChunk];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(m_hRead, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      if (outputFile != INVALID_HANDLE_VALUE && outputFile != nullptr &&
          !WriteAll(outputFile, buffer, got)) {
        break;
      }
      void* block = AllocOutputChunk(got);
      if (!block) break;
      std::memcpy(block, buffer, got);
      // A window that has gone takes nothing: the block stays ours.
      if (!PostMessageA(window, message, got, reinterpret_cast<LPARAM>(block)))
        FreeOutputChunk(block);
    }
  }
  // Both ends go in every case: without a window nobody reads, and a child writing more
  // than the pipe holds would block on a pipe that is held open by us alone.
  Close();
  return 0;
}
