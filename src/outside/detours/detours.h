// Our stand-in for the transaction API of Microsoft Detours (which our package sources do not
// carry): divert a function to a hook, keeping a trampoline that runs the displaced
// instructions and jumps back, so the hook can call on to the original.
//
//   DetourTransactionBegin();
//   DetourUpdateThread(GetCurrentThread());
//   DetourAttach(&reinterpret_cast<PVOID&>(TrueLoadLibraryExW), HookLoadLibraryExW);
//   DetourTransactionCommit();   // all hooks of the transaction live, or none and memory as it was
//
// After a committed attach the true pointer holds the trampoline; after a committed detach it
// holds the function again. Results are Win32 codes, as in Detours.
#pragma once

#include <windows.h>

extern "C" {
LONG WINAPI DetourTransactionBegin();
LONG WINAPI DetourTransactionAbort();
LONG WINAPI DetourTransactionCommit();
LONG WINAPI DetourUpdateThread(HANDLE thread);
LONG WINAPI DetourAttach(PVOID* pointer, PVOID detour);
LONG WINAPI DetourDetach(PVOID* pointer, PVOID detour);
}
