// The one delay-load hook of every module we ship. Libraries that are not KnownDLLs are linked
// through delay-load import libraries (cmake/SystemImports.cmake); the CRT's helper asks this
// hook for each library before it would fall back on a plain LoadLibrary (which searches the
// executable's folder first), and the hook loads it from the system folder only.
#include <windows.h>
// delayimp.h needs windows.h first.
#include <delayimp.h>

#include <stdio.h>

#include "framework/system_library.h"
#include "logging/log_binding.h"

namespace {

// A system library or function that the system folder does not provide: the code that needs
// it cannot go on, and the helper's alternative is an exception that nothing handles. The
// run ends with the loader's error as the exit code and says why.
//
// The system C library's _snwprintf, not the standard names: in every module we ship those
// would bring the toolchain's own printf (some 45 KiB with its floating-point conversions) for
// this one line. It does not terminate a text it cuts, hence the last character kept free.
[[noreturn]] void EndRunWithoutSystemImport(const char* library, const char* function, DWORD error) {
  wchar_t text[300] = {};
  if (function != nullptr) {
    _snwprintf(text, 299, L"%hs has no function %hs in the system folder (error %lu)", library, function, error);
  } else {
    _snwprintf(text, 299, L"%hs could not be loaded from the system folder (error %lu)", library, error);
  }
  OutputDebugStringW(text);
  logging::LogMessage(logging::kLevelError, L"LOADER", L"%s", text);
  ExitProcess(error != 0 ? error : ERROR_MOD_NOT_FOUND);
}

FARPROC WINAPI SystemFolderOnly(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  wchar_t name[MAX_PATH];
  const int n = MultiByteToWideChar(CP_ACP, 0, info->szDll, -1, name, MAX_PATH);
  HMODULE module = n > 0 ? ov::LoadSystemLibrary(name) : nullptr;
  if (module == nullptr) EndRunWithoutSystemImport(info->szDll, nullptr, GetLastError());
  return reinterpret_cast<FARPROC>(module);
}

// Reached only for a function the library lacks: the hook above never lets a load fail.
FARPROC WINAPI MissingFunction(unsigned notification, PDelayLoadInfo info) {
  char ordinal[16] = {};
  const char* function = info->dlp.szProcName;
  if (!info->dlp.fImportByName) {
    _snprintf(ordinal, sizeof ordinal - 1, "#%lu", static_cast<unsigned long>(info->dlp.dwOrdinal));
    function = ordinal;
  }
  EndRunWithoutSystemImport(info->szDll, notification == dliFailGetProc ? function : nullptr,
                            info->dwLastError);
}

}  // namespace

// The CRT's delay-load helper reads these two by name.
PfnDliHook __pfnDliNotifyHook2 = &SystemFolderOnly;
PfnDliHook __pfnDliFailureHook2 = &MissingFunction;
