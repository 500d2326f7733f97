// IpCollect.dll as the client loads it: from the program's directory, bound by the plain
// name of its one export, started once with a window. Its list lands in the program's
// cache, fetched from the client host that service.ini beside the program names.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "client/test_support/stub_client.h"

namespace {

using namespace testing_support;

typedef HANDLE(WINAPI* DllStartWorkerFn)(HWND);

std::string ProgramDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string file(path, n);
  return file.substr(0, file.rfind('\\') + 1);
}

size_t ListRequests() {
  std::string record;
  ReadFileBytes(EnvPath("ACCEL_STUB_RECORD"), &record);
  size_t count = 0;
  for (size_t at = record.find("\"path\":\"/accel_apps.php\""); at != std::string::npos;
       at = record.find("\"path\":\"/accel_apps.php\"", at + 1))
    ++count;
  return count;
}

TEST(IpCollectLibrary, VersionRecord) {
  std::string dll = ProgramDir() + "IpCollect.dll";
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, size, &data[0]));
  char* text = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueA(&data[0], "\\StringFileInfo\\080403a8\\FileDescription",
                             reinterpret_cast<void**>(&text), &len));
  EXPECT_STREQ("Vela网游加速，收集游戏服务器IP，以便智能加速", text);
}

TEST(IpCollectLibrary, StartsItsWorkerWhichFetchesTheGameList) {
  std::string dir = ProgramDir();
  ASSERT_TRUE(WriteFileBytes(dir + "service.ini", "[Service]\r\nClientHost=127.0.0.1\r\n"));
  CreateDirectoryA((dir + "Cache").c_str(), nullptr);
  std::string list = dir + "cache\\apps.xml";
  DeleteFileA(list.c_str());
  size_t before = ListRequests();

  HMODULE lib = LoadLibraryA((dir + "IpCollect.dll").c_str());
  ASSERT_NE(nullptr, lib);
  DllStartWorkerFn start =
      reinterpret_cast<DllStartWorkerFn>(
      reinterpret_cast<void*>(GetProcAddress(lib, "DllStartWorker")));
  ASSERT_NE(nullptr, start);
  bool textSeen = false;
  CRecordingWindow window([&](UINT msg, WPARAM, LPARAM) {
    textSeen |= msg == WM_USER + 51;
    return false;
  });
  HANDLE worker = start(window.Handle());
  ASSERT_NE(nullptr, worker);

  PumpUntil([&] { return FileExists(list) && ListRequests() > before; }, 15000);
  EXPECT_EQ(before + 1, ListRequests());
  std::string served, cached;
  ASSERT_EQ(200, HttpRequest(80, "GET", "/accel_apps.php", "", &served));
  ASSERT_TRUE(ReadFileBytes(list, &cached));
  EXPECT_EQ(served, cached);
  // The worker runs on: it has no end but the process's.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(worker, 1500));
  // Under Wine no game of the list runs here, so nothing is reported.
  PumpUntil([] { return false; }, 200);
  EXPECT_FALSE(textSeen);
}

}  // namespace
