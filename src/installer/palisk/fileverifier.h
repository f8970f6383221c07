// CFileVerifier: every downloaded file is checked before it is used. The kit's catalog
// ("kit.cat") is accepted only when its signature verifies and was made by the publisher;
// every later file must then have the digest the catalog records for it. data.xml and
// installer.xml are exempt where Palisk itself puts them (the descriptor folder, the top of
// the working folder). IsFileTrusted is the publisher check on its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "installer/palisk/digital_signature.h"

struct CatalogMember {
  std::wstring path;       // lowercase full path
  std::wstring digestHex;  // 64 lowercase hex characters
  std::wstring tag;
};

class CFileVerifier {
 public:
  CFileVerifier();
  ~CFileVerifier();
  CFileVerifier(const CFileVerifier&) = delete;
  CFileVerifier& operator=(const CFileVerifier&) = delete;

  // The verdict for a downloaded file.
  bool ValidateFile(const std::wstring& path);
  // Where Palisk downloads its own descriptors; only there are data.xml and installer.xml
  // exempt (nowhere while it is unset).
  void SetDescriptorFolder(const std::wstring& folder);
  // The publisher check: signable files must carry a trusted signature by the publisher.
  bool IsFileTrusted(const std::wstring& path, bool onlineRetry);
  // SHA-256 as the catalog records it (image hash for PE files), lowercase hex.
  uint32_t CalcFileHash(const std::wstring& path, std::wstring& hex);

  bool CatalogSupported() const { return m_catalogSupported; }
  bool CatalogLoaded() const { return m_catalogLoaded; }
  size_t MemberCount() const { return m_members.size(); }

  // The publisher's identity and the serials it has withdrawn.
  static bool IsAllowedSigner(const Crypt::Chain& chain);

 private:
  bool LoadCatalog(const std::wstring& path);
  uint32_t ReadMembers(const std::wstring& catalog, const std::wstring& memberFolder);
  bool ValidateMember(const std::wstring& path);

  const std::wstring m_catalogName = L"kit.cat";
  std::map<std::wstring, CatalogMember> m_members;
  std::wstring m_descriptorFolder;  // comparable form, empty when unset
  HMODULE m_wintrust = nullptr;
  void* m_acquireContext2 = nullptr;
  void* m_calcHash2 = nullptr;
  bool m_catalogLoaded = false;
  bool m_catalogSupported = true;
};
