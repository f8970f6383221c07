// palisk.exe: the web installer's entry point.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The run stages arrive with the entry work; until then the program says so by its result.
  return ERROR_CALL_NOT_IMPLEMENTED;
}
