// Runs one system command with its standard output and standard error on an anonymous pipe,
// and hands what it writes on: to a file behind a header line, and chunk by chunk to a
// window as heap blocks that the window then owns.
#pragma once

#include <windows.h>

// The chunks travel in heap blocks of exactly their size (no terminating zero): the
// receiver frees each one with this, after it has taken the bytes.
void* AllocOutputChunk(size_t bytes);
void FreeOutputChunk(void* block);

class CCmdPipe {
 public:
  CCmdPipe();
  ~CCmdPipe();
  CCmdPipe(const CCmdPipe&) = delete;
  CCmdPipe& operator=(const CCmdPipe&) = delete;

  // Starts `program` (a full path: nothing is searched for) with commandLine as its command
  // line and its output on the pipe. With
  // an output file, writes the header "==== <command line>\r\n" to it. With a window, reads
  // the output to its end: each chunk goes to the file (if any) and is posted to the window
  // as (message, size, block). 0 when the command was started, -1 when the pipe or the
  // process could not be made. The command's end is not awaited beyond its output.
  int Run(const char* program, const char* commandLine, HANDLE outputFile, HWND window,
          UINT message);

 private:
  void Close();

  HANDLE m_hRead;
  HANDLE m_hWrite;
};
