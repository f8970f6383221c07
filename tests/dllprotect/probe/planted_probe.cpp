// A library of our own name to plant in untrusted folders: Wine would serve a system name from
// its builtins, whatever folder the file is in.
#include <windows.h>

extern "C" __declspec(dllexport) int PlantedProbeAnswer() { return 42; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
