#include "tunnel/phonebook_guard.h"

#include "common/phonebook_entry.h"
#include "common/run_log.h"
#include "tunnel/dialup.h"
#include "tunnel/module.h"
#include "tunnel/worker.h"

namespace {

// Far above any phonebook of one entry; a larger file is not ours.
const DWORD kMaxPhonebookBytes = 1 << 20;

DWORD Refuse(const char* library) {
  WriteLog("电话簿条目指定了拨号库(%s)，拨号未执行！\r\n", library);
  if (CWorker* worker = g_pRunningWorker)
    worker->PostThreadMessage(WM_CORE_ERROR, ERROR_ACCESS_DENIED, 0);
  return ERROR_ACCESS_DENIED;
}

}  // namespace

DWORD RefusePhonebookLibrary(const std::string& phonebook) {
  HANDLE file = CreateFileA(phonebook.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    return Refuse("?");
  }
  std::string text;
  DWORD size = GetFileSize(file, nullptr);
  bool whole = size != INVALID_FILE_SIZE && size <= kMaxPhonebookBytes;
  if (whole && size > 0) {
    text.resize(size);
    DWORD got = 0;
    whole = ReadFile(file, &text[0], size, &got, nullptr) && got == size;
  }
  CloseHandle(file);
  if (!whole) return Refuse("?");
  std::string library = PhonebookEntryLibrary(text, kEntryName);
  return library.empty() ? 0 : Refuse(library.c_str());
}
