// The security of the run's own folder: only the account that runs Palisk, SYSTEM and the
// administrators may use it. Nothing is inherited from the folder it is made in (under
// C:\Windows\Temp other users may create files in new subfolders), and everything created
// inside inherits these rights.
#pragma once

#include <windows.h>

#include <vector>

namespace palisk {

class PrivateFolderSecurity {
 public:
  PrivateFolderSecurity();
  PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
  PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

  // For CreateDirectoryW; null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* Attributes() { return m_built ? &m_attributes : nullptr; }

 private:
  bool Build();

  std::vector<BYTE> m_tokenUser;  // TOKEN_USER of the process token, with its SID
  BYTE m_system[SECURITY_MAX_SID_SIZE] = {};
  BYTE m_administrators[SECURITY_MAX_SID_SIZE] = {};
  std::vector<BYTE> m_acl;
  SECURITY_DESCRIPTOR m_descriptor = {};
  SECURITY_ATTRIBUTES m_attributes = {};
  bool m_built = false;
};

}  // namespace palisk
