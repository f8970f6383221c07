#include "dllprotect/nt_paths.h"

#include <winternl.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace dllprotect {
namespace {

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

DWORD OpenWithNtCreateFile(const std::wstring& ntPath, HANDLE& file) {
  file = nullptr;
  auto create = reinterpret_cast<NtCreateFileFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
  if (create == nullptr) return ERROR_PROC_NOT_FOUND;
  UNICODE_STRING name;
  name.Buffer = const_cast<wchar_t*>(ntPath.c_str());
  name.Length = static_cast<USHORT>(ntPath.size() * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK status = {};
  constexpr ULONG kOpen = 1;                    // FILE_OPEN
  constexpr ULONG kNonDirectory = 0x40 | 0x20;  // FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT
  const NTSTATUS result = create(&file, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr, 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpen, kNonDirectory, nullptr, 0);
  if (result < 0) {
    file = nullptr;
    return ERROR_FILE_NOT_FOUND;
  }
  return 0;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return _wcsnicmp(text.c_str(), prefix, wcslen(prefix)) == 0;
}

// "X:\" at `at`.
bool IsDriveRooted(const std::wstring& path, size_t at) {
  return path.size() >= at + 3 && std::iswalpha(path[at]) && path[at + 1] == L':' && path[at + 2] == L'\\';
}

// A call that answers the size it needs (its terminating null included) when the buffer is too
// small, repeated with that size. One more character than asked for, as some Windows versions
// leave the null out of that answer.
template <typename Call>
DWORD CallWithGrowingBuffer(Call call, std::wstring& out) {
  constexpr DWORD kLongestPath = 32768;
  DWORD size = MAX_PATH;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::vector<wchar_t> buffer(size);
    const DWORD n = call(buffer.data(), size);
    if (n == 0) {
      const DWORD error = GetLastError();
      return error != 0 ? error : ERROR_PATH_NOT_FOUND;
    }
    if (n < size) {
      out.assign(buffer.data(), n);
      return 0;
    }
    if (n > kLongestPath) return ERROR_FILENAME_EXCED_RANGE;
    size = n + 1;
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace

const PathApi& SystemPathApi() {
  static const PathApi api = {&OpenWithNtCreateFile, &CloseHandle, &GetFinalPathNameByHandleW, &QueryDosDeviceW,
                              &GetLongPathNameW};
  return api;
}

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (StartsWith(path, L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (StartsWith(path, L"\\\\?\\") && IsDriveRooted(path, 4)) return path.substr(4);
  return path;
}

DWORD DosPathOfFile(HANDLE file, std::wstring& dosPath, const PathApi& api) {
  dosPath.clear();
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  std::wstring path;
  DWORD error = CallWithGrowingBuffer(
      [&](wchar_t* buffer, DWORD size) { return api.getFinalPathNameByHandleW(file, buffer, size, VOLUME_NAME_DOS); },
      path);
  if (error != 0) {
    // A volume with neither a drive letter nor a mount folder has no DOS path; its GUID path
    // names the same file and opens like one.
    std::wstring byGuid;
    if (CallWithGrowingBuffer([&](wchar_t* buffer, DWORD size) {
          return api.getFinalPathNameByHandleW(file, buffer, size, VOLUME_NAME_GUID);
        }, byGuid) != 0) {
      return error;
    }
    path = byGuid;
    error = 0;
  }
  dosPath = WithoutLongPathPrefix(path);
  return 0;
}

DWORD NtPathToDosPath(const std::wstring& ntPath, std::wstring& dosPath, const PathApi& api) {
  dosPath.clear();
  std::wstring native = ntPath;
  if (StartsWith(ntPath, L"\\??\\") || StartsWith(ntPath, L"\\\\?\\")) {
    // "\??\C:\..." (what Wine's mapped-file names look like) is a DOS path behind a prefix;
    // "\??\Volume{...}\..." and the like are not, and are opened below.
    const std::wstring rest = ntPath.substr(4);
    if (StartsWith(rest, L"UNC\\") && rest.size() > 4) {
      dosPath = L"\\\\" + rest.substr(4);
      return 0;
    }
    if (IsDriveRooted(rest, 0)) {
      dosPath = rest;
      return 0;
    }
    native = L"\\??\\" + rest;
  }
  HANDLE file = nullptr;
  if (api.openNtPath(native, file) == 0) {
    const DWORD error = DosPathOfFile(file, dosPath, api);
    api.closeHandle(file);
    if (error == 0) return 0;
  }
  // Wine's NtCreateFile does not open "\Device\HarddiskVolumeN\..." names: the device part
  // through the drive letters, then the long form of the rest.
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const wchar_t drive[3] = {letter, L':', 0};
    wchar_t device[MAX_PATH] = {};
    if (api.queryDosDeviceW(drive, device, MAX_PATH) == 0) continue;
    const size_t length = wcsnlen(device, MAX_PATH);  // the first of the drive's targets
    if (length == 0 || length >= MAX_PATH || device[0] != L'\\' || ntPath.size() <= length ||
        _wcsnicmp(ntPath.c_str(), device, length) != 0 || ntPath[length] != L'\\') {
      continue;
    }
    std::wstring path = drive + ntPath.substr(length);
    if (path.size() >= MAX_PATH) path = L"\\\\?\\" + path;
    std::wstring longPath;
    if (const DWORD error = CallWithGrowingBuffer(
            [&](wchar_t* buffer, DWORD size) { return api.getLongPathNameW(path.c_str(), buffer, size); }, longPath)) {
      return error;
    }
    dosPath = WithoutLongPathPrefix(longPath);
    return 0;
  }
  return ERROR_PATH_NOT_FOUND;
}

}  // namespace dllprotect
