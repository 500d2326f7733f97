// The lane a test build runs in is the one it was made for. On the 32-bit lane
// (ACCEL_EXPECT_MACHINE=014c) the test programs run as 32-bit processes and the program
// files they drive, taken from the shipping program directory, are i386 images; on the
// 64-bit lane both are x64. A lane that quietly ran the other build would show here.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/test_support/stub_client.h"
#include "tests/e2e/client_session.h"

namespace {

// The COFF machine field of a PE image on disk, or 0.
WORD ImageMachine(const std::string& path) {
  std::string bytes;
  if (!testing_support::ReadFileBytes(path, &bytes) || bytes.size() < 0x40) return 0;
  DWORD pe = *reinterpret_cast<const DWORD*>(&bytes[0x3c]);
  if (pe > bytes.size() - 6 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
  return *reinterpret_cast<const WORD*>(&bytes[pe + 4]);
}

TEST(ShippingLane, ProgramsAndTheFilesTheyDriveAreOfTheLanesMachine) {
  const char* expected = std::getenv("ACCEL_EXPECT_MACHINE");
  ASSERT_NE(nullptr, expected) << "the test build names the machine of its lane";
  WORD want = static_cast<WORD>(std::strtoul(expected, nullptr, 16));
  ASSERT_TRUE(want == IMAGE_FILE_MACHINE_I386 || want == IMAGE_FILE_MACHINE_AMD64);

  // This process, as the loader mapped it.
  auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  EXPECT_EQ(want, nt->FileHeader.Machine);
  EXPECT_EQ(want == IMAGE_FILE_MACHINE_I386 ? 4u : 8u, sizeof(void*));
  SYSTEM_INFO si;
  GetSystemInfo(&si);
  EXPECT_EQ(want == IMAGE_FILE_MACHINE_I386 ? PROCESSOR_ARCHITECTURE_INTEL
                                            : PROCESSOR_ARCHITECTURE_AMD64,
            si.wProcessorArchitecture);

  for (const char* name : {"ACCELCLIENT_EXE", "TUNNEL_XP_DLL", "TUNNEL_W7_DLL", "IPCOLLECT_DLL"}) {
    std::string path = testing_support::EnvPath(name);
    ASSERT_FALSE(path.empty()) << name;
    EXPECT_EQ(want, ImageMachine(path)) << path;
  }
}

}  // namespace

namespace {

struct HostRun {
  DWORD exitCode = 0;
  std::string out;  // UTF-8, as the host prints it
};

// tunnel_demo.exe, a host of a tunnel module that does what the acceleration page does (binds
// the six exports by their plain names, a window for the module's messages, a tick a second,
// hold, hang up, unload), run from the program directory so that the module beside it finds
// the dial-up service there and its phonebook in the directory's cache.
HostRun RunModuleHost(const std::string& dir, const char* module, const char* password) {
  HostRun run;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  std::string cmd = "\"" + dir + "\\tunnel_demo.exe\" " + module + " 127.0.0.1 test01 " +
                    password + " 1500";
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back('\0');
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                dir.c_str(), &si, &pi);
  CloseHandle(writeEnd);
  if (started) {
    // Read while it runs, not to the pipe's end: a program Wine starts on the way (its
    // desktop process) may inherit the write end and outlive the host.
    auto drain = [&] {
      char buf[512];
      DWORD avail = 0, n = 0;
      while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
             ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
        run.out.append(buf, n);
    };
    for (DWORD waited = 0; WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT; waited += 50) {
      drain();
      if (waited > 90000) TerminateProcess(pi.hProcess, 99);
    }
    drain();
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  return run;
}

// The line of the host's output that starts with prefix, or "".
std::string LineStarting(const std::string& out, const std::string& prefix) {
  for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1)) {
    if (at == 0 || out[at - 1] == '\n') return out.substr(at, out.find_first_of("\r\n", at) - at);
  }
  return std::string();
}

TEST(ShippingLane, EachTunnelModuleDialsHoldsAndHangsUpThroughTheDialUpService) {
  e2e::ClientSession session("modules", nullptr);
  ASSERT_TRUE(CopyFileA(testing_support::EnvPath("TUNNEL_DEMO_EXE").c_str(),
                        (session.Dir() + "\\tunnel_demo.exe").c_str(), FALSE));
  // XP dials through the dial-up API, which reports the refusal (691); the Windows 7 build
  // only polls for the connection that rasdial.exe makes, and gives up on its 16th tick (800).
  const struct {
    const char* module;
    const char* refusal;
  } cases[] = {{"tunnel_xp.dll", "WM_TUNNEL_ERROR 691"}, {"tunnel_w7.dll", "WM_TUNNEL_ERROR 800"}};
  for (const auto& c : cases) {
    const char* module = c.module;
    SCOPED_TRACE(module);
    // C0DE0001 is test01's tunnel password at the stand-in.
    HostRun ok = RunModuleHost(session.Dir(), module, "C0DE0001");
    EXPECT_EQ(0u, ok.exitCode) << ok.out;
    // The address the connection message carries is the one GetConnectionIp answers.
    std::string connected = LineStarting(ok.out, "WM_TUNNEL_CONNECTED: 10.8.0.");
    ASSERT_FALSE(connected.empty()) << ok.out;
    std::string address = connected.substr(21, connected.find(' ', 21) - 21);
    EXPECT_EQ("WM_TUNNEL_CONNECTED: " + address + " (GetConnectionIp " + address + ")", connected);
    EXPECT_FALSE(LineStarting(ok.out, "WM_TUNNEL_DISCONNECTED").empty()) << ok.out;
    EXPECT_TRUE(LineStarting(ok.out, "WM_TUNNEL_ERROR").empty()) << ok.out;

    // A password the service refuses ends the attempt in the module's error.
    HostRun refused = RunModuleHost(session.Dir(), module, "C0DE0002");
    EXPECT_EQ(2u, refused.exitCode) << refused.out;
    EXPECT_FALSE(LineStarting(refused.out, c.refusal).empty()) << refused.out;
    EXPECT_TRUE(LineStarting(refused.out, "WM_TUNNEL_CONNECTED").empty()) << refused.out;
  }
}

}  // namespace
