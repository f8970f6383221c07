#include "gui/bring_to_front.h"

namespace ov {
namespace gui {
namespace {

// Windows NT 4 and older, and Windows 95, know neither the foreground lock nor its time-out.
bool IsLegacySystem() {
  using GetVersionExFn = BOOL(WINAPI*)(OSVERSIONINFOW*);
  const auto getVersion = reinterpret_cast<GetVersionExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetVersionExW")));
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (getVersion == nullptr || !getVersion(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return version.dwMajorVersion <= 4;
  return version.dwMajorVersion == 4 && version.dwMinorVersion == 0;
}

bool InFront(HWND window) { return GetForegroundWindow() == window; }

void RaiseAndFocus(HWND window) {
  BringWindowToTop(window);
  SetForegroundWindow(window);
}

// The foreground window's thread shares its input state with ours for a moment, which lets
// SetForegroundWindow pass the foreground lock.
void RaiseWithAttachedInput(HWND window) {
  const DWORD ours = GetCurrentThreadId();
  const DWORD theirs = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const bool attached = theirs != 0 && theirs != ours && AttachThreadInput(theirs, ours, TRUE);
  RaiseAndFocus(window);
  if (attached) AttachThreadInput(theirs, ours, FALSE);
}

// Without a foreground lock time-out the system lets any process take the foreground; the
// user's setting is put back right after.
void RaiseWithoutForegroundLock(HWND window) {
  DWORD timeout = 0;
  const bool read = SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0) != FALSE;
  SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(static_cast<UINT_PTR>(0)),
                        SPIF_SENDCHANGE);
  RaiseAndFocus(window);
  if (read) {
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(static_cast<UINT_PTR>(timeout)),
                          SPIF_SENDCHANGE);
  }
}

}  // namespace

void BringWindowToFront(HWND window) {
  if (window == nullptr || !IsWindow(window)) return;
  ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
  if (!InFront(window)) SetForegroundWindow(window);
  if (InFront(window)) return;
  if (IsLegacySystem()) {
    RaiseAndFocus(window);
    return;
  }
  RaiseWithAttachedInput(window);
  if (InFront(window)) return;
  RaiseWithoutForegroundLock(window);
}

}  // namespace gui
}  // namespace ov
