#include "installer/palisk/folder_security.h"

#include "framework/scoped_handle.h"

namespace palisk {
namespace {

constexpr BYTE kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  DWORD size = sizeof sid;
  return CreateWellKnownSid(type, nullptr, sid, &size) != FALSE;
}

}  // namespace

PrivateFolderSecurity::PrivateFolderSecurity() { m_built = Build(); }

bool PrivateFolderSecurity::Build() {
  // The user comes from the process token, never from a thread's impersonation token.
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return false;
  ov::ScopedHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return false;
  m_tokenUser.resize(size);
  if (!GetTokenInformation(token.Get(), TokenUser, m_tokenUser.data(), size, &size)) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(m_tokenUser.data())->User.Sid;
  if (!WellKnownSid(WinLocalSystemSid, m_system) || !WellKnownSid(WinBuiltinAdministratorsSid, m_administrators)) {
    return false;
  }

  std::vector<PSID> grantees = {m_system, m_administrators};
  if (!EqualSid(user, m_system) && !EqualSid(user, m_administrators)) grantees.push_back(user);
  DWORD aclSize = sizeof(ACL);
  for (PSID sid : grantees) aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  m_acl.assign((aclSize + 3) & ~3u, 0);
  ACL* acl = reinterpret_cast<ACL*>(m_acl.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION)) return false;
  for (PSID sid : grantees) {
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritedByAll, FILE_ALL_ACCESS, sid)) return false;
  }
  // Protected: the parent's inheritable entries are not merged in.
  if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return false;
  }
  m_attributes.nLength = sizeof m_attributes;
  m_attributes.lpSecurityDescriptor = &m_descriptor;
  m_attributes.bInheritHandle = FALSE;
  return true;
}

}  // namespace palisk
