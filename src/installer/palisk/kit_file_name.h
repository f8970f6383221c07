// Whether a file name from data.xml may become a path below the working folder. The name is a
// relative path with "\" between its parts (data.xml's "/" already turned into "\").
#pragma once

#include <string>

namespace palisk {

// False for names that would leave the folder or not name a plain file there: "..", a part
// that is a reserved device (CON, NUL, AUX, PRN, COM0-9, LPT0-9, CONIN$, CONOUT$, with or
// without an extension, any case), a ':' (an alternate data stream or a drive), a part that
// ends in a dot or a blank (Windows drops those, so the name would not be the one checked),
// wildcard and other characters no file name may hold.
bool IsSafeKitFileName(const std::wstring& name);

}  // namespace palisk
