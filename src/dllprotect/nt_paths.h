// DOS paths for the NT paths the loader and the memory manager name files by
// ("\Device\HarddiskVolume3\...", "\??\C:\...") and for open files.
#pragma once

#include <windows.h>

#include <string>

namespace dllprotect {

// The system calls the conversion rests on: the system's own by default; tests put in
// stand-ins that answer as Windows does.
struct PathApi {
  // NtCreateFile for reading attributes only: 0 and the handle, or a Win32 error.
  DWORD (*openNtPath)(const std::wstring& ntPath, HANDLE& file);
  BOOL(WINAPI* closeHandle)(HANDLE);
  DWORD(WINAPI* getFinalPathNameByHandleW)(HANDLE, LPWSTR, DWORD, DWORD);
  DWORD(WINAPI* queryDosDeviceW)(LPCWSTR, LPWSTR, DWORD);
  DWORD(WINAPI* getLongPathNameW)(LPCWSTR, LPWSTR, DWORD);
};
const PathApi& SystemPathApi();

// "C:\..." for "\\?\C:\...", "\\server\share\..." for "\\?\UNC\server\share\..."; any other
// path as it is (a volume without a drive letter stays "\\?\Volume{...}\...", the only form
// that still names it).
std::wstring WithoutLongPathPrefix(const std::wstring& path);

// The DOS path of an open file, "\\?\" prefix taken away as above; 0 or the error.
DWORD DosPathOfFile(HANDLE file, std::wstring& dosPath, const PathApi& api = SystemPathApi());

// A DOS path for an NT path ("\Device\HarddiskVolume3\..." or "\??\C:\..."); 0 or the error.
DWORD NtPathToDosPath(const std::wstring& ntPath, std::wstring& dosPath, const PathApi& api = SystemPathApi());

}  // namespace dllprotect
