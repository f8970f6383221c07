// Owner of WinHTTP handles (sessions, connections, requests).
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "framework/scoped_handle.h"

namespace ov {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { WinHttpCloseHandle(h); }
};
using ScopedInternet = GenericScopedHandle<InternetHandleTraits>;

}  // namespace ov
