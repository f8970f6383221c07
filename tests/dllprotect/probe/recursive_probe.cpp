// A library whose DllMain loads itself again by its own path: the inner load starts inside the
// outer load of the same name.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH];
    if (GetModuleFileNameW(self, path, MAX_PATH) != 0) LoadLibraryW(path);
  }
  return TRUE;
}
