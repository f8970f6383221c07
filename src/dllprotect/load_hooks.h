// The hooks on the library-loading functions: every LoadLibrary* of the process goes through
// GenericLoadLibrary_Hook, which lets known-safe loads through, checks the rest, reports them
// and, in block mode, refuses libraries from vulnerable places. Optionally NtCreateSection is
// watched too, for image sections created by other means.
#pragma once

#include <windows.h>

#include <string>

namespace dllprotect {

// Within an open hook transaction: attach LoadLibraryW, LoadLibraryExW, LoadLibraryA and
// LoadLibraryExA, in that order; false at the first that fails.
bool AttachLoadLibraryHooks();
bool DetachLoadLibraryHooks();
bool AttachNtCreateSectionHook(void* ntCreateSection);
bool DetachNtCreateSectionHook();

// The decision for one load; `caller` is the address the load was called from.
HMODULE GenericLoadLibrary_Hook(const std::wstring& name, HANDLE file, DWORD flags, const char* hookName,
                                void* caller);

}  // namespace dllprotect
