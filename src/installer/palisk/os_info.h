// What the run logs about the machine and itself.
#pragma once

#include <string>

namespace palisk {

// The processor is AMD64, or (x86) this process runs under WOW64.
bool IsOs64Bit();
// 0 unknown or server or Windows 8+, 1 XP, 2 Vista without a service pack, 3 Vista with one,
// 4 Windows 7. Used for a log line only.
int GetOsVersionCode();
// "a.b.c.d" from the program's own version resource; "0.0.0.0" (and the error logged) when
// it cannot be read.
std::string GetFileVersionAsString();

}  // namespace palisk
