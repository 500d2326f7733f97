#include "common/dir_trust_win.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "common/run_log.h"

namespace {

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (!sid || !IsValidSid(sid) || !ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string result = text;
  LocalFree(text);
  return result;
}

LONG g_warningPending = 0;

}  // namespace

DirFacts ReadDirFacts(const std::string& path) {
  DirFacts facts;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    facts.readError = GetLastError();
    return facts;
  }
  facts.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // The descriptor of the name as given: a reparse point is refused above whatever it
  // points to.
  DWORD code = GetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) {
    facts.readError = code;
    return facts;
  }
  facts.read = true;
  facts.ownerSid = SidText(owner);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL listed = nullptr;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision) &&
      GetSecurityDescriptorDacl(descriptor, &present, &listed, &defaulted)) {
    facts.daclPresent = present != FALSE;
    facts.daclNull = present && !listed;
  }
  if (dacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
      DirAccessEntry entry;
      entry.type = header->AceType;
      entry.flags = header->AceFlags;
      // The plain allow and deny entries hold mask and SID at the same places; the other
      // kinds keep the mask there too, and an unknown SID is nobody we trust.
      const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      entry.mask = allowed->Mask;
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE ||
          header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
        entry.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
      facts.entries.push_back(entry);
    }
  }
  LocalFree(descriptor);
  return facts;
}

bool CheckProgramDir(const std::string& programDir) {
  bool trusted = true;
  const std::string folders[] = {programDir, programDir + "\\Cache"};
  for (const std::string& folder : folders) {
    std::string problem = DirTrustProblem(ReadDirFacts(folder));
    if (problem.empty()) continue;
    CRunLog::WriteText("程序目录可被其他用户修改（" + folder + "）：" + problem + "\r\n");
    trusted = false;
  }
  if (!trusted) InterlockedExchange(&g_warningPending, 1);
  return trusted;
}

const char* TakeProgramDirWarning() {
  if (!InterlockedExchange(&g_warningPending, 0)) return nullptr;
  return "程序目录可被其他用户修改，请重新安装到受保护的目录";
}
