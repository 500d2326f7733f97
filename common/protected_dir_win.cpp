#include "common/protected_dir.h"

CProtectedDirSecurity::CProtectedDirSecurity()
    : m_admins(nullptr), m_system(nullptr), m_acl(nullptr), m_descriptor(), m_valid(false) {
  // Well-known SIDs: the group names are localised, the SIDs are not.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                0, 0, 0, 0, 0, &m_admins) ||
      !AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                &m_system)) {
    return;
  }
  const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  DWORD size = sizeof(ACL) + 2 * aceBase + GetLengthSid(m_admins) + GetLengthSid(m_system);
  m_acl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), 0, size));
  const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  m_valid = m_acl && InitializeAcl(m_acl, size, ACL_REVISION) &&
            AddAccessAllowedAceEx(m_acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, m_admins) &&
            AddAccessAllowedAceEx(m_acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, m_system) &&
            InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&m_descriptor, TRUE, m_acl, FALSE) &&
            SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

CProtectedDirSecurity::~CProtectedDirSecurity() {
  if (m_acl) HeapFree(GetProcessHeap(), 0, m_acl);
  if (m_system) FreeSid(m_system);
  if (m_admins) FreeSid(m_admins);
}

BOOL CreateProtectedDirectory(const char* path) {
  CProtectedDirSecurity security;
  if (!security.Descriptor()) return FALSE;
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = security.Descriptor();
  attributes.bInheritHandle = FALSE;
  return CreateDirectoryA(path, &attributes);
}
