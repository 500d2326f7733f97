// The folder that only administrators may change: the descriptor it is created with.
#include "common/protected_dir.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string SidText(PSID sid) {
  typedef BOOL(WINAPI * PFN_SidToString)(PSID, LPSTR*);
  auto toString = reinterpret_cast<PFN_SidToString>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("advapi32.dll"), "ConvertSidToStringSidA")));
  LPSTR text = nullptr;
  if (!toString || !toString(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

// "S-1-5-32-544:001f01ff:03" for each entry, and whether the list is protected.
std::vector<std::string> Entries(PSECURITY_DESCRIPTOR descriptor, bool* isProtected) {
  std::vector<std::string> entries;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  *isProtected = (control & SE_DACL_PROTECTED) != 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
    return entries;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    char text[64];
    wsprintfA(text, ":%08lx:%02x:%d", allowed->Mask, allowed->Header.AceFlags,
              allowed->Header.AceType);
    entries.push_back(SidText(&allowed->SidStart) + text);
  }
  return entries;
}

TEST(ProtectedDir, AdministratorsAndSystemAloneInheritingNothingPassingAllOn) {
  const std::vector<std::string> want = {"S-1-5-32-544:001f01ff:03:0", "S-1-5-18:001f01ff:03:0"};
  CProtectedDirSecurity security;
  ASSERT_NE(security.Descriptor(), nullptr);
  bool isProtected = false;
  EXPECT_EQ(Entries(security.Descriptor(), &isProtected), want);
  EXPECT_TRUE(isProtected);

  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "accel_protected_" + std::to_string(GetTickCount());
  ASSERT_TRUE(CreateProtectedDirectory(dir.c_str()));
  // What the folder keeps cannot be read back here: Wine stores no access list of its own
  // and answers with a default one. The descriptor above is the one it was made with.
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
