#include "framework/system_library.h"

#include <cwchar>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"

namespace ov {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (name == nullptr || *name == 0 || std::wcspbrk(name, L"\\/:") != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;

  // Windows 7 without KB2533623 refuses the flag: name the file in the system folder instead.
  // The altered search then resolves the library's own imports from that folder too.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  return LoadLibraryExW(JoinPath(system, name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault =
      GetProc<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  return setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace ov
