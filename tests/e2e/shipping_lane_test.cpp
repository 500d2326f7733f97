// The lane a test build runs in is the one it was made for. On the 32-bit lane
// (ACCEL_EXPECT_MACHINE=014c) the test programs run as 32-bit processes and the program
// files they drive, taken from the shipping program directory, are i386 images; on the
// 64-bit lane both are x64. A lane that quietly ran the other build would show here.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/test_support/stub_client.h"

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
