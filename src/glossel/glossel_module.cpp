// Glossel.dll: the localisation library Palisk loads by path.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
