// Paths with macros between percent signs: a fixed set of names resolves through the shell's
// special folders, any other name through the environment. The result is lowercased.
#pragma once

#include <string>

namespace palisk {

// True with the expanded text, or false with an empty output.
bool ExpandPathMacros(const std::wstring& input, std::wstring& output);

// The long form of `path`, in place; 0 or the Windows error.
unsigned long ToLongPath(std::wstring& path);

}  // namespace palisk
