// Paths of the module that holds the calling code (the executable or a DLL), and joining.
#pragma once

#include <windows.h>

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ov {

// The image of the module this code is linked into: Palisk's own file in Palisk,
// Glossel's own file in Glossel.
inline HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

// Full path of `module` (null: the process's executable); "" on failure.
std::wstring ModuleFilePath(HMODULE module);

// The folder part of `path`, without the trailing "\" ("" when there is none).
std::wstring FolderOf(const std::wstring& path);

// Appends "\" unless `folder` already ends in "\" or "/", then `name` with its leading "\"
// and "/" skipped.
std::wstring JoinPath(const std::wstring& folder, const wchar_t* name);

}  // namespace ov
