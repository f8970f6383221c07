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

bool IsSignable(const std::wstring& path) {
  std::wstring extension = Lower(PathFindExtensionW(path.c_str()));
  while (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  return std::any_of(std::begin(kSignableExtensions), std::end(kSignableExtensions),
                     [&extension](const wchar_t* signable) { return extension == signable; });
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

CatalogApi SystemCatalogApi() {
  CatalogApi api;
  api.wintrust.Set(LoadSystemWintrust());
  api.acquireContext2 = ov::GetProc<CatalogApi::AcquireContext2Fn>(api.wintrust.Get(), "CryptCATAdminAcquireContext2");
  api.calcHash2 = ov::GetProc<CatalogApi::CalcHash2Fn>(api.wintrust.Get(), "CryptCATAdminCalcHashFromFileHandle2");
  api.releaseContext = ov::GetProc<CatalogApi::ReleaseContextFn>(api.wintrust.Get(), "CryptCATAdminReleaseContext");
  return api;
}

CFileVerifier::CFileVerifier(CatalogApiResolver resolveCatalogApi) : m_api(resolveCatalogApi()) {
  // SHA-256 catalogs need CryptCATAdminAcquireContext2 (Windows 8, or 7 updated).
  if (!m_api.wintrust.IsValid()) {
    PALISK_LOG(kInfo, L"Cannot find dependency dll.");
    m_catalogSupported = false;
  } else if (m_api.acquireContext2 == nullptr) {
    PALISK_LOG(kInfo, L"Cannot find cat operation functions!");
    m_catalogSupported = false;
  }
  if (!m_catalogSupported) {
    PALISK_LOG(kNotice, L"No catalog support on this OS");
    PALISK_LOG(kNotice, L"Kit files are verified with the program's own catalog reading and SHA-256 hashing.");
  }
}

bool CFileVerifier::ValidateFile(const std::wstring& path) {
  std::wstring normalised = path;
  if (PathIsRelativeW(path.c_str())) normalised = Lower(ov::JoinPath(ProgramFolder(), path.c_str()));
  return Validate(normalised, nullptr, std::wstring());
}

bool CFileVerifier::ValidateFile(const palisk::HeldFile& file, const std::wstring& landedDigestHex) {
  return Validate(file.Path(), &file, landedDigestHex);
}

bool CFileVerifier::Validate(const std::wstring& normalised, const palisk::HeldFile* held,
                             const std::wstring& landedDigestHex) {
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
  const bool isCatalog = _wcsicmp(name.c_str(), m_catalogName.c_str()) == 0;
  if (!isCatalog && !m_catalogLoaded) {
    PALISK_LOG(kNotice, L"Catalog file not loaded, trying to validate another file first?");
    return false;
  }
  // Everything below reads the file through one handle that denies writers.
  palisk::HeldFile opened;
  if (held == nullptr) {
    const uint32_t error = opened.Open(normalised);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      PALISK_LOG(kWarning, L"File [%s] not present on disk", normalised.c_str());
    } else if (error != 0) {
      PALISK_LOG(kWarning, L"File [%s] cannot be opened for verification [err = %u]", normalised.c_str(), error);
    }
    if (error != 0) {
      PALISK_LOG(kWarning, L"File [%s] found not valid", normalised.c_str());
      return false;
    }
    held = &opened;
  }
  if (isCatalog) return LoadCatalog(*held);
  const bool valid = ValidateMember(*held, landedDigestHex);
  if (!valid) PALISK_LOG(kWarning, L"File [%s] found not valid", normalised.c_str());
  return valid;
}

void CFileVerifier::SetDescriptorFolder(const std::wstring& folder) {
  m_descriptorFolder = folder.empty() ? std::wstring() : ComparableFolder(folder);
}

bool CFileVerifier::LoadCatalog(const palisk::HeldFile& file) {
  // The catalog is read by path below (CryptCATOpen takes no handle): while it is held,
  // those are the bytes whose signature was checked through the handle.
  const std::wstring& path = file.Path();
  if (!IsFileTrusted(file, true)) {
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

bool CFileVerifier::ValidateMember(const palisk::HeldFile& file, const std::wstring& landedDigestHex) {
  if (!m_catalogLoaded) {
    PALISK_LOG(kWarning, L"Catalog not loaded");
    return false;
  }
  std::wstring full = file.Path();
  if (PathIsRelativeW(full.c_str())) full = ov::JoinPath(ProgramFolder(), full.c_str());
  auto member = m_members.find(Lower(full));
  if (member == m_members.end()) return false;
  std::wstring hex = landedDigestHex;
  if (hex.empty() && CalcFileHash(file, hex) != 0) return false;
  return _wcsicmp(hex.c_str(), member->second.digestHex.c_str()) == 0;
}

uint32_t CFileVerifier::CalcFileHash(const std::wstring& path, std::wstring& hex) {
  hex.clear();
  palisk::HeldFile file;
  if (const uint32_t error = file.Open(path)) return error;
  return CalcFileHash(file, hex);
}

uint32_t CFileVerifier::CalcFileHash(const palisk::HeldFile& file, std::wstring& hex) {
  hex.clear();
  HCATADMIN admin = nullptr;
  GUID subsystem = DRIVER_ACTION_VERIFY;
  if (m_api.acquireContext2 != nullptr && m_api.calcHash2 != nullptr && m_api.releaseContext != nullptr &&
      m_api.acquireContext2(&admin, &subsystem, L"SHA256", nullptr, 0)) {
    // The system reads from the handle's own position: the start.
    LARGE_INTEGER start = {};
    SetFilePointerEx(file.Handle(), start, nullptr, FILE_BEGIN);
    DWORD size = 0;
    m_api.calcHash2(admin, file.Handle(), &size, nullptr, 0);
    std::vector<BYTE> digest(size);
    const bool ok = size != 0 && m_api.calcHash2(admin, file.Handle(), &size, digest.data(), 0);
    const DWORD error = GetLastError();
    m_api.releaseContext(admin, 0);
    if (!ok) return error != 0 ? error : ERROR_FUNCTION_FAILED;
    hex = palisk::LowerHex(digest.data(), size);
    return 0;
  }
  // The system's SHA-256 catalog hashing is missing (Windows 7 without its update) or does
  // not work (Wine exports CryptCATAdminAcquireContext2 as a stub and lacks the hash
  // function): the same digest, computed here with BCrypt.
  std::vector<uint8_t> digest;
  const uint32_t result = palisk::CatalogFileDigest(file, digest);
  if (result == ERROR_NOT_SUPPORTED) {
    PALISK_LOG(kError, L"File [%s] cannot be hashed: neither the system's catalog hashing nor BCrypt's SHA-256 is "
                       L"available.", file.Path().c_str());
  } else if (result != 0) {
    PALISK_LOG(kError, L"File [%s] cannot be hashed [err = %u]", file.Path().c_str(), result);
  }
  if (result == 0) hex = palisk::LowerHex(digest.data(), digest.size());
  return result;
}

bool CFileVerifier::IsFileTrusted(const std::wstring& path, bool onlineRetry) {
  if (!IsSignable(path)) return true;
  palisk::HeldFile file;
  if (const uint32_t error = file.Open(path)) {
    PALISK_LOG(kWarning, L"File [%s] cannot be opened for its signature check [err = %u]", path.c_str(), error);
    return false;
  }
  return IsFileTrusted(file, onlineRetry);
}

bool CFileVerifier::IsFileTrusted(const palisk::HeldFile& file, bool onlineRetry) {
  const wchar_t* path = file.Path().c_str();
  if (!IsSignable(file.Path())) return true;
  Crypt::DigitalSignatureObjectImplementation signature;
  ChainCollector first;
  if (signature.GetDigitalSignatureOf(path, file.Handle(), &first, onlineRetry) != 0 || !signature.IsSigned()) {
    return false;
  }
  ChainCollector second;
  signature.GetDigitalSignatureOf(path, file.Handle(), &second, false);
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
