#include "installer/palisk/working_folder.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "framework/scoped_handle.h"
#include "installer/palisk/folder_security.h"
#include "installer/palisk/path_macros.h"
#include "installer/palisk/run_result_codes.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

constexpr char kLogSource[] = "palisk.cpp";
using RovEveduzodi::BinaryLogger::kInfo;

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
  return folder + L"\\" + name;
}

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction, symbolic link or mount point is removed itself, never what it points to: it is
// opened as the link and deleted through that very handle. Wine 8 ignores
// FILE_FLAG_OPEN_REPARSE_POINT and opens the link's target: a handle that is no reparse point
// is never used to delete, and the link then stays.
void RemoveLink(const std::wstring& path) {
  ov::ScopedHandle link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_ATTRIBUTE_TAG_INFO opened = {};
  const bool isLink = link.IsValid() &&
                      GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &opened, sizeof opened) &&
                      IsReparsePoint(opened.FileAttributes);
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (isLink && SetFileInformationByHandle(link.Get(), FileDispositionInfo, &dispose, sizeof dispose)) return;
  PALISK_LOG(kInfo, L"[setup] RemoveFile link<%s> left in place [%d]", path.c_str(), isLink ? GetLastError() : 0);
}

}  // namespace

unsigned long CreateWorkingFolder(std::wstring& folder) {
  folder.clear();
  std::wstring temp;
  if (!ExpandPathMacros(L"%temp%", temp)) return palisk::run_result::kFunctionFailed;
  // Never a folder with the rights of %temp%: without the descriptor there is no folder.
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) return palisk::run_result::kFunctionFailed;
  for (int n = 1; n <= 99; ++n) {
    wchar_t name[32];
    _snwprintf(name, 32, L"%s%02d", L"ovtempdir", n);
    const std::wstring candidate = Join(temp, name);
    // A name that exists (folder, file or link) is never reused; what was just created must be
    // a plain folder.
    if (CreateDirectoryW(candidate.c_str(), security.Attributes()) &&
        !IsReparsePoint(GetFileAttributesW(candidate.c_str()))) {
      folder = candidate;
      return 0;
    }
  }
  return palisk::run_result::kFunctionFailed;
}

int RemoveFolderTree(const std::wstring& path) {
  if (path.empty()) return 0;
  WIN32_FIND_DATAW data;
  ov::ScopedFindHandle found(FindFirstFileW(path.c_str(), &data));
  if (!found.IsValid()) {
    PALISK_LOG(kInfo, L"[SETUP] Error finding path %s (%d)", path.c_str(), GetLastError());
    return 0;
  }
  if (IsReparsePoint(data.dwFileAttributes)) {
    found.Close();
    RemoveLink(path);
    return 1;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    // A listing that cannot be opened is skipped: removal then leaves what it cannot see.
    WIN32_FIND_DATAW entry;
    ov::ScopedFindHandle listing(FindFirstFileW(Join(path, L"*.*").c_str(), &entry));
    if (listing.IsValid()) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        RemoveFolderTree(Join(path, name));
      } while (FindNextFileW(listing.Get(), &entry));
    }
  }
  found.Close();
  RemoveFile(path);
  return 1;
}

void RemoveFile(const std::wstring& path) {
  wchar_t suffix[32];
  _snwprintf(suffix, 32, L"%I64d", static_cast<long long>(std::time(nullptr)));
  const std::wstring renamed = path + suffix;

  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  attributes = GetFileAttributesW(path.c_str());
  const bool isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);

  const bool moved = MoveFileExW(path.c_str(), renamed.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  const std::wstring& target = moved ? renamed : path;
  const bool deleted = isFolder ? RemoveDirectoryW(target.c_str()) != FALSE
                                : DeleteFileW(target.c_str()) != FALSE;
  if (deleted && moved) return;
  if (!deleted && moved) {
    MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    PALISK_LOG(kInfo, L"[SETUP] RemoveFile  delay delete reboot<%s>", target.c_str());
  }
  PALISK_LOG(kInfo, L"[setup] RemoveFile moved<%d> deleted<%d> path<%s> target<%s>", moved ? 1 : 0,
             deleted ? 1 : 0, path.c_str(), target.c_str());
}

}  // namespace palisk
