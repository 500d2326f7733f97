#include "common/ui_thread.h"

CUiThread::CUiThread()
    : m_hThread(nullptr), m_nThreadId(0), m_hQueueReady(nullptr), m_hHoldModule(nullptr),
      m_bEndLoop(false) {}

const char* CUiThread::GetRuntimeClassName() const { return "CUiThread"; }

CUiThread::~CUiThread() {
  if (m_hThread) CloseHandle(m_hThread);
}

const ThreadMsgEntry* CUiThread::GetMessageMap() const {
  static const ThreadMsgEntry none[] = {{0, nullptr}};
  return none;
}

BOOL CUiThread::InitInstance() { return TRUE; }

int CUiThread::ExitInstance() { return 0; }

BOOL CUiThread::CreateThread(int priority, HMODULE holdModule) {
  if (m_hThread) return FALSE;
  m_hHoldModule = holdModule;
  m_hQueueReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!m_hQueueReady) return FALSE;
  m_hThread = ::CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &m_nThreadId);
  if (!m_hThread) {
    CloseHandle(m_hQueueReady);
    m_hQueueReady = nullptr;
    m_nThreadId = 0;
    return FALSE;
  }
  SetThreadPriority(m_hThread, priority);
  ResumeThread(m_hThread);
  HANDLE waits[2] = {m_hQueueReady, m_hThread};
  WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  CloseHandle(m_hQueueReady);
  m_hQueueReady = nullptr;
  return TRUE;
}

BOOL CUiThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return m_nThreadId ? ::PostThreadMessageA(m_nThreadId, message, wParam, lParam) : FALSE;
}

DWORD WINAPI CUiThread::ThreadProc(LPVOID param) {
  CUiThread* self = static_cast<CUiThread*>(param);
  // Read before the loop: once ExitInstance has signalled its owner the object may be
  // freed, and the module with it as soon as the last reference goes.
  HMODULE hold = self->m_hHoldModule;
  MSG msg;
  PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // creates the queue
  SetEvent(self->m_hQueueReady);
  int code = self->Run();
  if (hold) FreeLibraryAndExitThread(hold, static_cast<DWORD>(code));
  return static_cast<DWORD>(code);
}

int CUiThread::Run() {
  if (InitInstance()) {
    MSG msg;
    while (!m_bEndLoop) {
      BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      if (msg.hwnd == nullptr) {
        const ThreadMsgEntry* entry = GetMessageMap();
        while (entry->handler && entry->message != msg.message) ++entry;
        if (entry->handler) {
          (this->*(entry->handler))(msg.wParam, msg.lParam);
          continue;
        }
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return ExitInstance();
}
