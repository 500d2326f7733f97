// Folders that only administrators may change: a security descriptor whose access list
// inherits nothing from the parent and lets Administrators and SYSTEM alone in, passed on to
// everything the folder will hold. The client runs elevated and reads what lies in Cache
// (lists, phonebook, settings); a Cache that any user may write would be theirs to steer.
#pragma once

#include <windows.h>

class CProtectedDirSecurity {
 public:
  CProtectedDirSecurity();
  ~CProtectedDirSecurity();
  CProtectedDirSecurity(const CProtectedDirSecurity&) = delete;
  CProtectedDirSecurity& operator=(const CProtectedDirSecurity&) = delete;

  // Null when the descriptor could not be built.
  PSECURITY_DESCRIPTOR Descriptor() { return m_valid ? &m_descriptor : nullptr; }

 private:
  PSID m_admins;
  PSID m_system;
  PACL m_acl;
  SECURITY_DESCRIPTOR m_descriptor;
  bool m_valid;
};

// CreateDirectoryA with that descriptor. Without one the folder is not made at all rather
// than made open to all.
BOOL CreateProtectedDirectory(const char* path);
