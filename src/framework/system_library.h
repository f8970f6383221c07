// Where Windows' own libraries are loaded from. Our modules import statically only KnownDLLs,
// which Windows maps from its own section objects; every other system library is loaded at run
// time from the system folder alone, so that a file of the same name beside the executable
// (a Downloads folder, a working folder) is never picked up.
#pragma once

#include <windows.h>

namespace ov {

// Loads `name` (a bare file name such as L"winhttp.dll") from the system folder only; null with
// the loader's error otherwise (ERROR_INVALID_PARAMETER for a name that holds a path).
HMODULE LoadSystemLibrary(const wchar_t* name);

// Narrows the default search of every later load in the process, by our code or by system code,
// to the system folder. False where the system lacks SetDefaultDllDirectories (Windows 7
// without KB2533623); loads by name then still search the executable's folder first.
bool RestrictDllSearchToSystemFolder();

}  // namespace ov
