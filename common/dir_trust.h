// Whether a folder the elevated client loads libraries from and hands files out of can be
// changed by anyone but the machine's administrators: decided from the facts of the folder's
// security descriptor, so that the decision is the same wherever the facts come from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DirAccessEntry {
  std::uint8_t type;   // ACCESS_ALLOWED_ACE_TYPE 0, ACCESS_DENIED_ACE_TYPE 1, ...
  std::uint8_t flags;  // OBJECT_INHERIT_ACE 1, CONTAINER_INHERIT_ACE 2, INHERIT_ONLY_ACE 8, ...
  std::uint32_t mask;
  std::string sid;  // "S-1-5-32-545"
};

struct DirFacts {
  bool read = false;  // the attributes and the descriptor could be read
  unsigned long readError = 0;
  bool reparsePoint = false;
  std::string ownerSid;
  bool daclPresent = false;  // no list, or a null one, lets everyone do everything
  bool daclNull = false;
  std::vector<DirAccessEntry> entries;
};

// Empty when only Administrators, SYSTEM and TrustedInstaller own and may change the folder
// and what it passes on; otherwise the first reason it fails, as the log says it.
std::string DirTrustProblem(const DirFacts& facts);
