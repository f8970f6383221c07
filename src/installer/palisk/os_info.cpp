#include "installer/palisk/os_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

constexpr char kLogSource[] = "palisk.cpp";
constexpr int kIsOsOrdinal = 437;
constexpr DWORD kOsServer = 23;

}  // namespace

bool IsOs64Bit() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  if (info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) return true;
  if (info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL) return false;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

int GetOsVersionCode() {
  using IsOsFn = BOOL(WINAPI*)(DWORD);
  HMODULE shlwapi = LoadLibraryW(L"shlwapi.dll");
  auto isOs = reinterpret_cast<IsOsFn>(reinterpret_cast<void*>(
      GetProcAddress(shlwapi, MAKEINTRESOURCEA(kIsOsOrdinal))));
  const bool server = isOs != nullptr && isOs(kOsServer);
  if (shlwapi != nullptr) FreeLibrary(shlwapi);
  if (server) return 0;

  using GetVersionExFn = BOOL(WINAPI*)(OSVERSIONINFOEXW*);
  auto getVersion = ov::GetProc<GetVersionExFn>(GetModuleHandleW(L"Kernel32.dll"), "GetVersionExW");
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof version;  // 284
  if (getVersion == nullptr || !getVersion(&version)) return 0;
  if (version.dwMajorVersion < 5) return 0;
  if (version.dwMajorVersion == 5) return version.dwMinorVersion >= 1 ? 1 : 0;
  const bool workstation = version.wProductType == VER_NT_WORKSTATION;
  if (version.dwMinorVersion == 0) {
    if (!workstation) return 0;
    return version.szCSDVersion[0] == 0 ? 2 : 3;
  }
  if (version.dwMinorVersion == 1) return workstation ? 4 : 0;
  return 0;
}

std::string GetFileVersionAsString() {
  const std::wstring path = ov::ModuleFilePath(nullptr);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  std::vector<uint8_t> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
      fixed == nullptr || fixedSize == 0) {
    PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo,
               L"SendLogs: GetFileVersionAsString: GetFileVersionBits error: %d\n", GetLastError());
    return "0.0.0.0";
  }
  char text[128];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
  return text;
}

}  // namespace palisk
