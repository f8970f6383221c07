#include "framework/module_path.h"

#include <vector>

namespace ov {

std::wstring ModuleFilePath(HMODULE module) {
  // Long-path aware: grow until the name fits (GetModuleFileNameW truncates silently).
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring JoinPath(const std::wstring& folder, const wchar_t* name) {
  std::wstring joined = folder;
  if (joined.empty() || (joined.back() != L'\\' && joined.back() != L'/')) joined += L'\\';
  while (*name == L'\\' || *name == L'/') ++name;
  joined += name;
  return joined;
}

}  // namespace ov
