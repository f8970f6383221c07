#include "framework/fatal.h"

#include <windows.h>

namespace ov {

void EndProcessOnCorruption(const char* what) {
  OutputDebugStringA(what);
  ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(what);
  RaiseException(kCorruptionExceptionCode, EXCEPTION_NONCONTINUABLE, 1, &argument);
  // Only reached if a handler swallowed a non-continuable exception.
  TerminateProcess(GetCurrentProcess(), kCorruptionExceptionCode);
  for (;;) {
  }
}

}  // namespace ov
