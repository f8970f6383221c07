#include "framework/plugin.h"

#include <shlwapi.h>

#include "framework/module_path.h"

namespace ov {
namespace {

// Joins like the loader always has: "\" unless the folder ends in "\" or "/", then the path
// with its leading separators skipped.
std::wstring Candidate(const wchar_t* folder, const wchar_t* path) {
  return JoinPath(folder, path);
}

// The folder of `module` (null: the executable) with a trailing "\", in a MAX_PATH buffer.
bool ModuleFolder(HMODULE module, wchar_t (&folder)[MAX_PATH]) {
  const DWORD n = GetModuleFileNameW(module, folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  PathRemoveFileSpecW(folder);
  PathAddBackslashW(folder);
  return true;
}

}  // namespace

HMODULE LoadPluginLibrary(const wchar_t* path) {
  // Windows 7 without KB2533623 lacks the LOAD_LIBRARY_SEARCH_* flags.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const bool searchFlags =
      GetProc<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"Kernel32.dll"),
                                          "SetDefaultDllDirectories") != nullptr;
  const DWORD flags = searchFlags ? (LOAD_LIBRARY_SEARCH_DEFAULT_DIRS |
                                     LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR)
                                  : LOAD_WITH_ALTERED_SEARCH_PATH;
  if (!PathIsRelativeW(path)) return LoadLibraryExW(path, nullptr, flags);

  wchar_t folder[MAX_PATH];
  HMODULE module = nullptr;
  if (ModuleFolder(nullptr, folder)) {
    module = LoadLibraryExW(Candidate(folder, path).c_str(), nullptr, flags);
  }
  if (module == nullptr && ModuleFolder(ThisModule(), folder)) {
    module = LoadLibraryExW(Candidate(folder, path).c_str(), nullptr, flags);
  }
  return module;
}

}  // namespace ov
