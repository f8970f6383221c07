// Ending the process on memory corruption or lock misuse.
#pragma once

namespace ov {

// Exception code raised by EndProcessOnCorruption ("OV" + 0xC0DE).
constexpr unsigned long kCorruptionExceptionCode = 0xE04FC0DE;

// Raises a non-continuable exception that nothing in our code handles, so the process ends
// at once with kCorruptionExceptionCode instead of running on with damaged memory.
[[noreturn]] void EndProcessOnCorruption(const char* what);

}  // namespace ov
