#include "gui/dpi_awareness.h"

#include "framework/scoped_handle.h"

namespace ov {
namespace gui {
namespace {

// shcore's PROCESS_PER_MONITOR_DPI_AWARE (Windows 8.1).
constexpr int kProcessPerMonitorDpiAware = 2;

void AskForAwareness() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  if (const auto setContext = GetProc<SetContextFn>(user32, "SetProcessDpiAwarenessContext")) {
    // Windows 10 1703 and later know V2 (scaled non-client areas and dialogs); 1607 only V1.
    if (setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
        setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)))) {
      return;
    }
  }
  ScopedModule shcore(LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  using SetAwarenessFn = HRESULT(WINAPI*)(int);
  if (const auto setAwareness = GetProc<SetAwarenessFn>(shcore.Get(), "SetProcessDpiAwareness")) {
    const HRESULT result = setAwareness(kProcessPerMonitorDpiAware);
    if (SUCCEEDED(result) || result == E_ACCESSDENIED) return;  // denied: already set (manifest)
  }
  using SetAwareFn = BOOL(WINAPI*)();
  if (const auto setAware = GetProc<SetAwareFn>(user32, "SetProcessDPIAware")) setAware();
}

}  // namespace

void EnableDpiAwareness() {
  static const bool done = (AskForAwareness(), true);
  (void)done;
}

POINT CentredOn(const RECT& workArea, SIZE size) {
  return POINT{workArea.left + (workArea.right - workArea.left - size.cx) / 2,
               workArea.top + (workArea.bottom - workArea.top - size.cy) / 2};
}

}  // namespace gui
}  // namespace ov
