// A thread with its own message queue whose thread messages are handled through a table
// (message number -> member function), with InitInstance / ExitInstance around the loop.
// The tunnel module's worker and the client's background worker derive from it.
#pragma once

#include <windows.h>

class CUiThread;
typedef void (CUiThread::*ThreadMsgHandler)(WPARAM wParam, LPARAM lParam);

struct ThreadMsgEntry {
  UINT message;
  ThreadMsgHandler handler;
};

#define DECLARE_THREAD_MESSAGE_MAP()                 \
 protected:                                          \
  static const ThreadMsgEntry s_messageEntries[];    \
  const ThreadMsgEntry* GetMessageMap() const override;

#define BEGIN_THREAD_MESSAGE_MAP(theClass) const ThreadMsgEntry theClass::s_messageEntries[] = {
#define ON_THREAD_MESSAGE(message, memberFn) {message, static_cast<ThreadMsgHandler>(memberFn)},
#define END_THREAD_MESSAGE_MAP(theClass)                                                  \
  { 0, nullptr }                                                                          \
  }                                                                                       \
  ;                                                                                       \
  const ThreadMsgEntry* theClass::GetMessageMap() const { return s_messageEntries; }

class CUiThread {
 public:
  CUiThread();
  virtual const char* GetRuntimeClassName() const;
  virtual ~CUiThread();
  virtual const ThreadMsgEntry* GetMessageMap() const;
  // FALSE ends the thread at once (ExitInstance still runs).
  virtual BOOL InitInstance();
  virtual int ExitInstance();

  // Starts the thread and returns once its message queue exists, so that posts made right
  // after the call are not lost. holdModule, when given, is a module the thread keeps
  // loaded until its very last instruction (FreeLibraryAndExitThread): a library whose
  // worker may outlive the library's unloading by its host passes its own handle, with a
  // reference already taken for the thread.
  BOOL CreateThread(int priority = THREAD_PRIORITY_NORMAL, HMODULE holdModule = nullptr);

  BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) const;
  HANDLE ThreadHandle() const { return m_hThread; }
  DWORD ThreadId() const { return m_nThreadId; }

 protected:
  // Ends the message loop once the current message has been handled.
  void EndMessageLoop() { m_bEndLoop = true; }

 private:
  static DWORD WINAPI ThreadProc(LPVOID param);
  int Run();

  HANDLE m_hThread;
  DWORD m_nThreadId;
  HANDLE m_hQueueReady;
  HMODULE m_hHoldModule;
  bool m_bEndLoop;
};
