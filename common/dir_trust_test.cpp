// A folder only administrators may change, as its descriptor's facts show it.
#include "common/dir_trust.h"

#include <gtest/gtest.h>

namespace {

const char kAdmins[] = "S-1-5-32-544";
const char kSystem[] = "S-1-5-18";
const char kUsers[] = "S-1-5-32-545";
const char kAuthenticated[] = "S-1-5-11";

// What the setup program gives the program folder: Administrators and SYSTEM full, Users
// read and run, all passed on.
DirFacts Installed() {
  DirFacts facts;
  facts.read = true;
  facts.ownerSid = kAdmins;
  facts.daclPresent = true;
  facts.entries = {{0, 3, 0x1f01ff, kAdmins}, {0, 3, 0x1f01ff, kSystem}, {0, 3, 0x1200a9, kUsers}};
  return facts;
}

TEST(DirTrust, TheInstalledFolderAndTheSystemsOwnersPass) {
  EXPECT_EQ(DirTrustProblem(Installed()), "");
  DirFacts facts = Installed();
  facts.ownerSid = kSystem;
  // Program Files as Windows makes it: TrustedInstaller owns it, and CREATOR OWNER's
  // entry passes only to what an administrator creates.
  facts.entries.push_back({0, 0x0b, 0x10000000, "S-1-3-0"});
  EXPECT_EQ(DirTrustProblem(facts), "");
  facts.ownerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  facts.entries.push_back({1, 0, 0x1f01ff, kUsers});  // a deny entry grants nothing
  EXPECT_EQ(DirTrustProblem(facts), "");
}

TEST(DirTrust, EachWayAnotherAccountCouldChangeItIsNamed) {
  DirFacts facts = Installed();
  facts.read = false;
  facts.readError = 5;
  EXPECT_EQ(DirTrustProblem(facts), "无法读取安全信息（错误 5）");

  facts = Installed();
  facts.reparsePoint = true;
  EXPECT_EQ(DirTrustProblem(facts), "是重解析点");

  facts = Installed();
  facts.ownerSid = "S-1-5-21-1-2-3-1001";
  EXPECT_EQ(DirTrustProblem(facts), "所有者为 S-1-5-21-1-2-3-1001");
  facts.ownerSid = "";
  EXPECT_EQ(DirTrustProblem(facts), "所有者为 未知");

  facts = Installed();
  facts.daclNull = true;
  EXPECT_EQ(DirTrustProblem(facts), "没有访问控制列表");
  facts.daclNull = false;
  facts.daclPresent = false;
  EXPECT_EQ(DirTrustProblem(facts), "没有访问控制列表");

  // Every right that lets a file in or out, or the list or owner change, alone; also in an
  // entry that only passes on to what the folder holds, and under another allowing kind.
  const unsigned kRights[] = {0x2, 0x4, 0x40, 0x40000, 0x80000, 0x10000000, 0x40000000};
  for (unsigned rights : kRights) {
    facts = Installed();
    facts.entries.push_back({0, 0x09, 0x1200a9 | rights, kAuthenticated});
    char want[80];
    snprintf(want, sizeof want, "S-1-5-11 可以修改（权限 %08x）", 0x1200a9 | rights);
    EXPECT_EQ(DirTrustProblem(facts), want) << std::hex << rights;
  }
  facts = Installed();
  facts.entries.push_back({9, 0, 0x2, ""});
  EXPECT_EQ(DirTrustProblem(facts), " 可以修改（权限 00000002）");
  // Reading, running, attributes and deleting the folder itself are no change to what it holds.
  facts = Installed();
  facts.entries.push_back({0, 3, 0x1200a9 | 0x100 | 0x10000, "S-1-1-0"});
  EXPECT_EQ(DirTrustProblem(facts), "");
}

}  // namespace
