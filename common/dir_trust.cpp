#include "common/dir_trust.h"

#include <cstdio>

namespace {

const char kAdministrators[] = "S-1-5-32-544";
const char kSystem[] = "S-1-5-18";
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Stands for whoever creates an object below: only someone already let in can.
const char kCreatorOwner[] = "S-1-3-0";
const char kOwnerRights[] = "S-1-3-4";

// Write or append data (in a folder: add a file or a folder), delete what it holds, change
// the list or the owner; and the generic rights that map to them.
const std::uint32_t kChangeRights = 0x00000002u | 0x00000004u | 0x00000040u | 0x00040000u |
                                    0x00080000u | 0x10000000u | 0x40000000u;

bool Trusted(const std::string& sid) {
  return sid == kAdministrators || sid == kSystem || sid == kTrustedInstaller;
}

// The allowing kinds: plain, object, callback, callback object.
bool Allows(std::uint8_t type) { return type == 0 || type == 5 || type == 9 || type == 11; }

}  // namespace

std::string DirTrustProblem(const DirFacts& facts) {
  char text[160];
  if (!facts.read) {
    std::snprintf(text, sizeof text, "无法读取安全信息（错误 %lu）", facts.readError);
    return text;
  }
  if (facts.reparsePoint) return "是重解析点";
  if (!Trusted(facts.ownerSid))
    return "所有者为 " + (facts.ownerSid.empty() ? std::string("未知") : facts.ownerSid);
  if (!facts.daclPresent || facts.daclNull) return "没有访问控制列表";
  // Entries that only pass on to what the folder will hold count too: a library written
  // into it would take them. A deny entry is not trusted to come first.
  for (const DirAccessEntry& entry : facts.entries) {
    if (!Allows(entry.type) || !(entry.mask & kChangeRights)) continue;
    if (Trusted(entry.sid) || entry.sid == kCreatorOwner || entry.sid == kOwnerRights) continue;
    std::snprintf(text, sizeof text, "%s 可以修改（权限 %08lx）", entry.sid.c_str(),
                  static_cast<unsigned long>(entry.mask));
    return text;
  }
  return std::string();
}
