// What Palisk reads out of another process (its parent): the command line from the process
// environment block, and the executable's path. A 32-bit Palisk on 64-bit Windows usually has
// a 64-bit parent (Explorer, a 64-bit agent): its PEB is read through the WoW64 64-bit calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace palisk {

// The system calls behind the reads, as one table: the system's by default; tests put fakes
// here to run the WoW64 branch in a build that is not WoW64.
struct ProcessApi {
  BOOL(WINAPI* isWow64Process)(HANDLE process, BOOL* wow64);
  LONG(WINAPI* queryInformation)(HANDLE process, ULONG infoClass, void* buffer, ULONG size, ULONG* returned);
  BOOL(WINAPI* readMemory)(HANDLE process, LPCVOID address, LPVOID buffer, SIZE_T size, SIZE_T* read);
  // ntdll's NtWow64QueryInformationProcess64 and NtWow64ReadVirtualMemory64: present in a
  // WoW64 process only; null where missing.
  LONG(WINAPI* wow64QueryInformation64)(HANDLE process, ULONG infoClass, void* buffer, ULONG size, ULONG* returned);
  LONG(WINAPI* wow64ReadMemory64)(HANDLE process, ULONG64 address, void* buffer, ULONG64 size, ULONG64* read);
};

const ProcessApi& ActiveProcessApi();
// Replaces the table (nullptr puts the system's back).
void SetProcessApi(const ProcessApi* api);

// The command line of `process` (opened with PROCESS_QUERY_INFORMATION | PROCESS_VM_READ).
// "" when it cannot be read; `why` then says which step failed, in the run log's words.
std::wstring ReadProcessCommandLine(HANDLE process, std::wstring& why);

// Full Win32 path of the executable of `process` (opened with at least
// PROCESS_QUERY_LIMITED_INFORMATION); "" when it cannot be had. Works across bitness.
std::wstring ProcessImagePath(HANDLE process);

}  // namespace palisk
