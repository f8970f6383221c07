#include "installer/palisk/fileverifier.h"

#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "framework/system_library.h"
#include "installer/palisk/authenticode_hash.h"
#include "installer/palisk/catalog_reader.h"
#include "logging/binary_logger.h"

namespace {

constexpr char kLogSource[] = "fileverifier.cpp";
using namespace RovEveduzodi::BinaryLogger;

const wchar_t* const kExemptNames[] = {L"data.xml", L"installer.xml"};
const wchar_t* const kSignableExtensions[] = {L"exe", L"dll", L"sys", L"cat"};
constexpr wchar_t kPublisher[] = L"Orvane SRL";
// Publisher certificates that were withdrawn: their signatures are refused.
const wchar_t* const kDeniedSerials[] = {
    L"5d0c7a1e93b84f26a1c09e3b7d4f8a12",
    L"0e4b9d2c7a1f48b3965c3e0d8a7b1f24",
    L"a39f07c5e1d24b68b0f7c9e2d4a61b3c",
};

using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR, const CERT_STRONG_SIGN_PARA*, DWORD);
using CalcHash2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ProgramFolder() { return ov::FolderOf(ov::ModuleFilePath(nullptr)); }

// A folder as compared: lower case, "/" as "\\", no trailing separator.
std::wstring ComparableFolder(std::wstring folder) {
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  while (folder.size() > 1 && folder.back() == L'\\') folder.pop_back();
  return Lower(folder);
}

HMODULE LoadSystemWintrust() { return ov::LoadSystemLibrary(L"Wintrust.dll"); }

bool HasValue(const ov::NameAttributes& attributes, const wchar_t* name, const wchar_t* wanted) {
  const ov::List<ov::StringT>* values = attributes.Find(name);
  if (values == nullptr) return false;
  ov::IConstListEnum<ov::StringT>* it = values->GetConstEnum();
  bool found = false;
  for (; it != nullptr && it->IsValid() && !found; it->Next()) found = *it->Current() == wanted;
  if (it != nullptr) it->Release();
  return found;
}

// Collects every chain that one enumeration sees.
class ChainCollector : public Crypt::ICertificateVisitor {
 public:
  void OnChain(const Crypt::Chain& chain) override { chains.AddTail(chain); }
  ov::List<Crypt::Chain> chains;
};

}  // namespace

CFileVerifier::CFileVerifier() {
  m_wintrust = LoadSystemWintrust();
  m_acquireContext2 = reinterpret_cast<void*>(GetProcAddress(m_wintrust, "CryptCATAdminAcquireContext2"));
  m_calcHash2 = reinterpret_cast<void*>(GetProcAddress(m_wintrust, "CryptCATAdminCalcHashFromFileHandle2"));

  // The probe: SHA-256 catalogs need CryptCATAdminAcquireContext2 (Windows 8, or 7 updated).
  ov::ScopedModule probe(LoadSystemWintrust());
  if (!probe.IsValid()) {
    PALISK_LOG(kInfo, L"Cannot find dependency dll.");
    m_catalogSupported = false;
  } else if (GetProcAddress(probe.Get(), "CryptCATAdminAcquireContext2") == nullptr) {
    PALISK_LOG(kInfo, L"Cannot find cat operation functions!");
    m_catalogSupported = false;
  }
  if (!m_catalogSupported) PALISK_LOG(kNotice, L"No catalog support on this OS");
}

CFileVerifier::~CFileVerifier() {
  if (m_wintrust != nullptr) FreeLibrary(m_wintrust);
}

bool CFileVerifier::ValidateFile(const std::wstring& path) {
  if (!m_catalogSupported) return true;
  std::wstring normalised = path;
  if (PathIsRelativeW(path.c_str())) normalised = Lower(ov::JoinPath(ProgramFolder(), path.c_str()));
  const std::wstring name = FileNameOf(normalised);
  // Only the descriptors Palisk itself puts at the top of its working folder are exempt: a kit
  // entry that happens to carry such a name lands below it and is verified like any file.
  const bool inDescriptorFolder =
      !m_descriptorFolder.empty() && ComparableFolder(ov::FolderOf(normalised)) == m_descriptorFolder;
  for (const wchar_t* exempt : kExemptNames) {
    if (inDescriptorFolder && _wcsicmp(name.c_str(), exempt) == 0) {
      PALISK_LOG(kInfo, L"File [%s] excepted", normalised.c_str());
      return true;
    }
  }
  if (_wcsicmp(name.c_str(), m_catalogName.c_str()) == 0) return LoadCatalog(normalised);
  if (m_catalogLoaded) {
    const bool valid = ValidateMember(normalised);
    if (!valid) PALISK_LOG(kWarning, L"File [%s] found not valid", normalised.c_str());
    return valid;
  }
  PALISK_LOG(kNotice, L"Catalog file not loaded, trying to validate another file first?");
  return false;
}

void CFileVerifier::SetDescriptorFolder(const std::wstring& folder) {
  m_descriptorFolder = folder.empty() ? std::wstring() : ComparableFolder(folder);
}

bool CFileVerifier::LoadCatalog(const std::wstring& path) {
  if (!IsFileTrusted(path, true)) {
    PALISK_LOG(kError, L"Catalog file not trusted [%s]", path.c_str());
    return false;
  }
  // A trusted signer is not enough where WinVerifyTrust does not compare the signed digest
  // with the content (Wine): the catalog must carry exactly what its signer signed.
  if (!palisk::CatalogContentMatchesSignature(path)) {
    PALISK_LOG(kError, L"Catalog file not trusted [%s]", path.c_str());
    return false;
  }
  const uint32_t result = ReadMembers(path, ov::FolderOf(path));
  m_catalogLoaded = result == 0;
  if (result != 0) {
    PALISK_LOG(kError, L"Failed to load catalog [path = %s] [err = %d]", path.c_str(), result);
  } else {
    PALISK_LOG(kInfo, L"Catalog valid.");
  }
  return m_catalogLoaded;
}

uint32_t CFileVerifier::ReadMembers(const std::wstring& catalog, const std::wstring& memberFolder) {
  if (GetFileAttributesW(catalog.c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_NOT_FOUND;
  std::vector<palisk::CatalogEntry> entries;
  const uint32_t result = palisk::ReadCatalogEntries(catalog, entries);
  if (result != 0) return result;
  const std::wstring folder = memberFolder.empty() ? ProgramFolder() : memberFolder;
  for (const palisk::CatalogEntry& entry : entries) {
    if (entry.digestHex.size() != 64 || entry.fileName.empty()) continue;  // SHA-256 members only
    CatalogMember member;
    member.path = Lower(ov::JoinPath(folder, entry.fileName.c_str()));
    member.digestHex = entry.digestHex;
    member.tag = entry.tag;
    m_members[member.path] = member;
  }
  return 0;
}

bool CFileVerifier::ValidateMember(const std::wstring& path) {
  if (!m_catalogLoaded) {
    PALISK_LOG(kWarning, L"Catalog not loaded");
    return false;
  }
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    PALISK_LOG(kNotice, L"File [%s] not present on disk", path.c_str());
    return true;
  }
  std::wstring full = path;
  if (PathIsRelativeW(path.c_str())) full = ov::JoinPath(ProgramFolder(), path.c_str());
  auto member = m_members.find(Lower(full));
  if (member == m_members.end()) return false;
  std::wstring hex;
  if (CalcFileHash(full, hex) != 0) return false;
  return _wcsicmp(hex.c_str(), member->second.digestHex.c_str()) == 0;
}

uint32_t CFileVerifier::CalcFileHash(const std::wstring& path, std::wstring& hex) {
  hex.clear();
  ov::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return GetLastError();
  if (m_acquireContext2 != nullptr && m_calcHash2 != nullptr) {
    HCATADMIN admin = nullptr;
    GUID subsystem = DRIVER_ACTION_VERIFY;
    if (reinterpret_cast<AcquireContext2Fn>(m_acquireContext2)(&admin, &subsystem, L"SHA256", nullptr, 0)) {
      DWORD size = 0;
      auto calc = reinterpret_cast<CalcHash2Fn>(m_calcHash2);
      calc(admin, file.Get(), &size, nullptr, 0);
      std::vector<BYTE> digest(size);
      const bool ok = size != 0 && calc(admin, file.Get(), &size, digest.data(), 0);
      const DWORD error = GetLastError();
      CryptCATAdminReleaseContext(admin, 0);
      if (!ok) return error != 0 ? error : ERROR_FUNCTION_FAILED;
      hex = palisk::LowerHex(digest.data(), size);
      return 0;
    }
  }
  // The system's SHA-256 catalog hashing is missing or does not work (Wine exports
  // CryptCATAdminAcquireContext2 as a stub and lacks the hash function): the same digest,
  // computed here with BCrypt.
  file.Close();
  std::vector<uint8_t> digest;
  const uint32_t result = palisk::CatalogFileDigest(path, digest);
  if (result == 0) hex = palisk::LowerHex(digest.data(), digest.size());
  return result;
}

bool CFileVerifier::IsFileTrusted(const std::wstring& path, bool onlineRetry) {
  std::wstring extension = Lower(PathFindExtensionW(path.c_str()));
  while (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  if (std::none_of(std::begin(kSignableExtensions), std::end(kSignableExtensions),
                   [&extension](const wchar_t* signable) { return extension == signable; })) {
    return true;
  }
  Crypt::DigitalSignatureObjectImplementation signature;
  ChainCollector first;
  if (signature.GetDigitalSignature(path.c_str(), &first, onlineRetry) != 0 || !signature.IsSigned()) return false;
  ChainCollector second;
  signature.GetDigitalSignature(path.c_str(), &second, false);
  // Only a chain that itself verified may vouch for the publisher: an untrusted second
  // signature that merely names the publisher must not ride on a trusted first one.
  ov::IConstListEnum<Crypt::Chain>* it = second.chains.GetConstEnum();
  bool allowed = false;
  for (; it != nullptr && it->IsValid() && !allowed; it->Next()) {
    allowed = it->Current()->trusted && IsAllowedSigner(*it->Current());
  }
  if (it != nullptr) it->Release();
  return allowed;
}

bool CFileVerifier::IsAllowedSigner(const Crypt::Chain& chain) {
  ov::IConstListEnum<Crypt::Certificate>* it = chain.certificates.GetConstEnum();
  bool allowed = false;
  for (; it != nullptr && it->IsValid(); it->Next()) {
    const Crypt::Certificate& certificate = *it->Current();
    if (!HasValue(certificate.subject, L"CN", kPublisher) || !HasValue(certificate.subject, L"O", kPublisher)) continue;
    allowed = std::none_of(std::begin(kDeniedSerials), std::end(kDeniedSerials),
                           [&certificate](const wchar_t* denied) { return certificate.serial == denied; });
    break;
  }
  if (it != nullptr) it->Release();
  return allowed;
}
