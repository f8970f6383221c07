#include "dllprotect/trust_checks.h"

#include <aclapi.h>
#include <sddl.h>
#include <psapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwctype>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "framework/utf8.h"
#include "dllprotect/protect_trace.h"

namespace dllprotect {
namespace {

// GENERIC_ALL | GENERIC_WRITE | WRITE_OWNER | WRITE_DAC | FILE_WRITE_ATTRIBUTES | _EA | APPEND | DATA: the
// rights to change what the folder holds, or to give oneself those rights.
constexpr DWORD kWriteBits = 0x500C0116;

// A path's root ("\\" for UNC paths, else empty) and its components; the "\\?\" and "\\.\"
// prefixes are set aside, so that every form of one path splits alike.
std::vector<std::wstring> Components(const std::wstring& path, std::wstring& root) {
  auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  std::wstring rest = path;
  root.clear();
  if (rest.size() >= 4 && separator(rest[0]) && separator(rest[1]) && (rest[2] == L'?' || rest[2] == L'.') &&
      separator(rest[3])) {
    rest = rest.substr(4);
    if (rest.size() >= 4 && _wcsnicmp(rest.c_str(), L"UNC", 3) == 0 && separator(rest[3])) {
      rest = rest.substr(4);
      root = L"\\\\";
    }
  } else if (rest.size() >= 2 && separator(rest[0]) && separator(rest[1])) {
    root = L"\\\\";
  }
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = rest.find_first_of(L"\\/", start);
    const std::wstring part = rest.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::wstring::npos) break;
    start = slash + 1;
  }
  return parts;
}

bool Identity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  ov::ScopedHandle handle(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.IsValid() && GetFileInformationByHandle(handle.Get(), &info);
}

std::wstring EnvironmentFolder(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(value, n) : std::wstring();
}

// The accounts whose write access does not make a folder unsafe, and OWNER RIGHTS; by SID, as
// names are localised.
struct Sids {
  PSID administrators = nullptr, system = nullptr, trustedInstaller = nullptr, ownerRights = nullptr;
};

const Sids& PrivilegedSids() {
  static const Sids sids = [] {
    Sids made;
    ConvertStringSidToSidW(L"S-1-5-32-544", &made.administrators);
    ConvertStringSidToSidW(L"S-1-5-18", &made.system);
    ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &made.trustedInstaller);
    ConvertStringSidToSidW(L"S-1-3-4", &made.ownerRights);
    return made;  // kept for the life of the process
  }();
  return sids;
}

bool IsPrivileged(PSID sid) {
  const Sids& sids = PrivilegedSids();
  for (PSID known : {sids.administrators, sids.system, sids.trustedInstaller}) {
    if (known != nullptr && EqualSid(sid, known)) return true;
  }
  return false;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  const std::wstring result = text;
  LocalFree(text);
  return result;
}

}  // namespace

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) return std::wstring();
  std::wstring full(buffer.data(), n);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

std::wstring LeadingComponents(const std::wstring& path, size_t count) {
  std::wstring root;
  const std::vector<std::wstring> parts = Components(path, root);
  if (count == 0 || parts.size() < count) return std::wstring();
  std::wstring cut = root;
  for (size_t i = 0; i < count; ++i) cut += parts[i] + L"\\";
  // Long paths keep working without the prefix that was set aside.
  if (cut.size() >= MAX_PATH) cut = (root.empty() ? L"\\\\?\\" : L"\\\\?\\UNC\\") + cut.substr(root.size());
  return cut;
}

TrustedFolders TrustedFolders::OfThisProcess() {
  TrustedFolders folders;
  wchar_t buffer[MAX_PATH];
  UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) folders.system.assign(buffer, n);
  n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n > 0 && n < MAX_PATH) folders.windows.assign(buffer, n);
  // A 32-bit process on 64-bit Windows sees the 32-bit program files folder here.
  folders.programFiles = EnvironmentFolder(L"ProgramFiles");
  folders.executable = ov::FolderOf(ov::ModuleFilePath(nullptr));
  return folders;
}

bool SameDirectory(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  if (a.empty() || b.empty() || !Identity(a, first) || !Identity(b, second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool IsInsideFolder(const std::wstring& file, const std::wstring& folder) {
  if (file.empty() || folder.empty()) return false;
  const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  std::wstring root;
  const size_t depth = Components(FullPath(folder), root).size();
  const std::wstring cut = LeadingComponents(ov::FolderOf(FullPath(file)), depth);
  if (cut.empty()) return false;
  return SameDirectory(folder, cut);
}

bool IsTrustedPath(const std::wstring& path, const TrustedFolders& folders) {
  if (IsInsideFolder(path, folders.system) || IsInsideFolder(path, folders.windows)) {
    Trace(L"path: %ls is TRUSTED. Reason: is in system32 or in windows dir", path.c_str());
    return true;
  }
  if (IsInsideFolder(path, folders.executable) && IsInsideFolder(path, folders.programFiles)) {
    Trace(L"path: %ls is TRUSTED. Reason: is in exe_dir and file is in programmfiles_dir", path.c_str());
    return true;
  }
  Trace(L"path: %ls is UNTRUSTED", path.c_str());
  return false;
}

std::set<std::wstring> ReadBlacklistJson(const std::wstring& path) {
  std::set<std::wstring> blacklist;
  std::string text;
  if (!ov::ReadWholeFile(path, text)) return blacklist;
  // Without exceptions: a malformed file gives a discarded value, not a throw.
  const nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) return blacklist;
  const auto list = root.find("blacklist");
  if (list == root.end() || !list->is_array()) return blacklist;
  for (const nlohmann::json& entry : *list) {
    if (!entry.is_string()) return std::set<std::wstring>();
  }
  for (const nlohmann::json& entry : *list) {
    const std::string& name = entry.get_ref<const std::string&>();
    blacklist.insert(ov::FromUtf8(name));
    if (*dbgtrace::DbgTraceLevel() != 0) {
      dbgtrace::Tracer::Instance().Write(0, "[DLLPROTECT] :: ", "%s", fmt::format("black listed file: {}", name).c_str());
    }
  }
  return blacklist;
}

bool IsBlacklisted(const std::wstring& path, const std::set<std::wstring>& blacklist) {
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
  const bool listed = blacklist.count(name) != 0;
  Trace(L"path %ls is %ls", path.c_str(), listed ? L"BLACKLISTED" : L"NOT blacklisted");
  return listed;
}

bool VerifyEmbeddedSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  Trace(L"VerifyEmbeddedSignature for file %ls returned %d", path.c_str(), static_cast<int>(result));
  return result == 0;
}

bool DescriptorLetsOrdinaryAccountsWrite(PSECURITY_DESCRIPTOR descriptor) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return true;
  if (!present || dacl == nullptr) {
    // No DACL, or a null one: unrestricted access.
    Trace(L"No DACL was found (all access is denied), or a NULL DACL (unrestricted access) was found.\n");
    return true;
  }
  PSID owner = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) return true;
  bool ownerRightsListed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return true;
    // Inherit-only entries say what children get, not who may write here.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    if (EqualSid(sid, PrivilegedSids().ownerRights)) ownerRightsListed = true;
    if (IsPrivileged(sid)) continue;
    if (ace->Mask & kWriteBits) {
      Trace(L"user: %ls can write", SidText(sid).c_str());
      return true;
    }
  }
  // An owner may always rewrite the DACL (an implicit WRITE_DAC), unless OWNER RIGHTS entries
  // say what the owner gets instead.
  if (!ownerRightsListed && !IsPrivileged(owner)) {
    Trace(L"owner: %ls can write", SidText(owner).c_str());
    return true;
  }
  return false;
}

bool CanUserWrite(const std::wstring& folder) {
  Trace(L"Check acl for: %ls", folder.c_str());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, nullptr, nullptr,
                                            nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    // A folder whose permissions cannot be read is not known to be safe.
    Trace(L"GetNamedSecurityInfo failed %d", static_cast<int>(error));
    return true;
  }
  std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
  const bool writable = DescriptorLetsOrdinaryAccountsWrite(descriptor);
  Trace(L"regular user %ls write in %ls", writable ? L"can" : L"cannot", folder.c_str());
  return writable;
}

int PerformSecurityChecks(const CheckContext& context, const std::wstring& name, DWORD flags, std::wstring& resolved,
                          std::wstring& error) {
  resolved = name;
  error.clear();
  if (context.loadLibraryExW == nullptr || context.folders == nullptr) return kLoadFailed;
  HMODULE mapped = context.loadLibraryExW(name.c_str(), nullptr, flags | LOAD_LIBRARY_AS_DATAFILE);
  if (mapped == nullptr) {
    Trace(L"path %ls couldn't be found", name.c_str());
    return kLoadFailed;
  }
  struct Release {
    HMODULE module;
    ~Release() { FreeLibrary(module); }
  } release{mapped};

  std::wstring ntPath;
  for (DWORD size = 200;; size *= 2) {
    std::vector<wchar_t> buffer(size);
    const DWORD n = GetMappedFileNameW(GetCurrentProcess(), mapped, buffer.data(), size);
    if (n != 0 && n < size) {
      ntPath.assign(buffer.data(), n);
      break;
    }
    const DWORD last = n == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    if (last != ERROR_INSUFFICIENT_BUFFER || size >= 32767) {
      error = L"GetMappedFileName failed " + std::to_wstring(last);
      return kGetMappedFileFailed;
    }
  }
  Trace(L"nt path is %ls", ntPath.c_str());
  std::wstring dosPath;
  if (const DWORD failed = NtPathToDosPath(ntPath, dosPath)) {
    error = L"cannot convert the NT path: " + std::to_wstring(failed);
    return kGetPathFailed;
  }
  Trace(L"dllpath is %ls", dosPath.c_str());
  resolved = dosPath;
  if ((context.options & kCheckBlacklist) && context.blacklist != nullptr && IsBlacklisted(dosPath, *context.blacklist)) {
    return context.blockMode ? kDllBlocked : kTrusted;
  }
  if (IsTrustedPath(dosPath, *context.folders)) return kTrusted;
  if ((context.options & kCheckWriteAccess) && !CanUserWrite(ov::FolderOf(dosPath))) return kTrusted;
  if ((context.options & kCheckSignature) && VerifyEmbeddedSignature(dosPath)) return kTrusted;
  Trace(L"%ls is a VULNERABLE_PATH", dosPath.c_str());
  return kVulnerablePath;
}

}  // namespace dllprotect
