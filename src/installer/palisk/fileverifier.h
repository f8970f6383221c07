// CFileVerifier: every downloaded file is checked before it is used. The kit's catalog
// ("kit.cat") is accepted only when its signature verifies and was made by the publisher;
// every later file must then have the digest the catalog records for it. data.xml and
// installer.xml are exempt where Palisk itself puts them (the descriptor folder, the top of
// the working folder). IsFileTrusted is the publisher check on its own.
//
// Digests come from the system's SHA-256 catalog hashing where it has one, else from the
// program's own (authenticode_hash): a system without the catalog functions is verified the
// same way, never waved through. Files are read through a HeldFile, so nobody can change
// them between the check and their use.
#pragma once

#include <windows.h>
#include <wintrust.h>
#include <mscat.h>

#include <cstdint>
#include <map>
#include <string>

#include "framework/scoped_handle.h"
#include "installer/palisk/digital_signature.h"
#include "installer/palisk/held_file.h"

struct CatalogMember {
  std::wstring path;       // lowercase full path
  std::wstring digestHex;  // 64 lowercase hex characters
  std::wstring tag;
};

// The system's SHA-256 catalog functions (Windows 8, or 7 with its SHA-256 update), from the
// system's Wintrust.dll; null entry points where the system lacks them.
struct CatalogApi {
  using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR, const CERT_STRONG_SIGN_PARA*, DWORD);
  using CalcHash2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
  using ReleaseContextFn = BOOL(WINAPI*)(HCATADMIN, DWORD);

  ov::ScopedModule wintrust;
  AcquireContext2Fn acquireContext2 = nullptr;
  CalcHash2Fn calcHash2 = nullptr;
  ReleaseContextFn releaseContext = nullptr;  // for contexts acquireContext2 gave
};
// Finds the catalog functions; tests put in ones that find none, or stand-ins for them.
using CatalogApiResolver = CatalogApi (*)();
CatalogApi SystemCatalogApi();

class CFileVerifier {
 public:
  explicit CFileVerifier(CatalogApiResolver resolveCatalogApi = &SystemCatalogApi);
  CFileVerifier(const CFileVerifier&) = delete;
  CFileVerifier& operator=(const CFileVerifier&) = delete;

  // The verdict for a downloaded file: held by the caller, or opened here for the check.
  // `landedDigestHex`: the file's catalog digest as it was hashed while it landed (see
  // ReadBehindDigest), empty when the file is to be hashed here.
  bool ValidateFile(const palisk::HeldFile& file, const std::wstring& landedDigestHex = std::wstring());
  bool ValidateFile(const std::wstring& path);
  // Where Palisk downloads its own descriptors; only there are data.xml and installer.xml
  // exempt (nowhere while it is unset).
  void SetDescriptorFolder(const std::wstring& folder);
  // The publisher check: signable files must carry a trusted signature by the publisher.
  bool IsFileTrusted(const palisk::HeldFile& file, bool onlineRetry);
  bool IsFileTrusted(const std::wstring& path, bool onlineRetry);
  // SHA-256 as the catalog records it (image hash for PE files), lowercase hex.
  uint32_t CalcFileHash(const palisk::HeldFile& file, std::wstring& hex);
  uint32_t CalcFileHash(const std::wstring& path, std::wstring& hex);

  // Whether the system's own catalog hashing is there (else the program's is used).
  bool CatalogSupported() const { return m_catalogSupported; }
  bool CatalogLoaded() const { return m_catalogLoaded; }
  size_t MemberCount() const { return m_members.size(); }

  // The publisher's identity and the serials it has withdrawn.
  static bool IsAllowedSigner(const Crypt::Chain& chain);

 private:
  bool Validate(const std::wstring& normalised, const palisk::HeldFile* held, const std::wstring& landedDigestHex);
  bool LoadCatalog(const palisk::HeldFile& file);
  uint32_t ReadMembers(const std::wstring& catalog, const std::wstring& memberFolder);
  bool ValidateMember(const palisk::HeldFile& file, const std::wstring& landedDigestHex);

  const std::wstring m_catalogName = L"kit.cat";
  std::map<std::wstring, CatalogMember> m_members;
  std::wstring m_descriptorFolder;  // comparable form, empty when unset
  CatalogApi m_api;
  bool m_catalogLoaded = false;
  bool m_catalogSupported = true;
};
