// The tests behind the load hooks: where a library would really be loaded from, whether that
// place is trusted, and whether the file may be accepted all the same (blacklist, write access,
// embedded signature).
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

#include "dllprotect/nt_paths.h"
#include "dllprotect/protect_codes.h"

namespace dllprotect {

// The folders a library may come from.
struct TrustedFolders {
  std::wstring system, windows, programFiles, executable;
  static TrustedFolders OfThisProcess();
};

// The absolute form of `path` without trailing separators; empty when it cannot be formed.
std::wstring FullPath(const std::wstring& path);

// The first `count` components of `path` as a folder path ending in "\", its root kept (a UNC
// path stays one: "\\server\share\..."); empty when the path has fewer.
std::wstring LeadingComponents(const std::wstring& path, size_t count);

// The same existing file or folder, by file identity.
bool SameDirectory(const std::wstring& a, const std::wstring& b);

// True when `file` exists inside the existing directory `folder` (at any depth), compared by
// file identity, so case, short names and links do not matter.
bool IsInsideFolder(const std::wstring& file, const std::wstring& folder);
bool IsTrustedPath(const std::wstring& path, const TrustedFolders& folders);

// "dllblacklist.json": {"blacklist": ["name.dll", ...]}; anything else gives an empty list.
std::set<std::wstring> ReadBlacklistJson(const std::wstring& path);
// The path's file name, lower-cased, is in the list (only lower-case entries can match).
bool IsBlacklisted(const std::wstring& path, const std::set<std::wstring>& blacklist);

// Any valid embedded (Authenticode) signature; no signer name is compared.
bool VerifyEmbeddedSignature(const std::wstring& path);
// True when an account other than Administrators, SYSTEM and TrustedInstaller may write in
// `folder` or give itself the right to: an entry granting a write right (WRITE_DAC and
// WRITE_OWNER included), an ordinary owner (who may always rewrite the DACL unless OWNER RIGHTS
// entries restrict it), a null DACL. A folder whose permissions cannot be read counts as writable.
bool CanUserWrite(const std::wstring& folder);
bool DescriptorLetsOrdinaryAccountsWrite(PSECURITY_DESCRIPTOR descriptor);

using LoadLibraryExWFn = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);

struct CheckContext {
  LoadLibraryExWFn loadLibraryExW = nullptr;  // the true, unhooked one
  uint32_t options = 0;
  bool blockMode = false;
  const TrustedFolders* folders = nullptr;
  const std::set<std::wstring>* blacklist = nullptr;
};

// The decision for loading `name` with `flags`: kTrusted, kLoadFailed, kGetPathFailed,
// kGetMappedFileFailed, kVulnerablePath or kDllBlocked. `resolved` gets the checked DOS path
// (the name itself until it is known), `error` the text of a failure.
int PerformSecurityChecks(const CheckContext& context, const std::wstring& name, DWORD flags, std::wstring& resolved,
                          std::wstring& error);

}  // namespace dllprotect
