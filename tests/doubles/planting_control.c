/* The planting test's control: a program that imports version.dll statically, as palisk.exe
 * once did. Started beside a planted version.dll, it must load that one. */
#include <windows.h>

int wmain(void) {
  DWORD handle = 0;
  return GetFileVersionInfoSizeW(L"kernel32.dll", &handle) != 0 ? 0 : 1;
}
