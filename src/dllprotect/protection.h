// The DLL load protection of this process: DllProtectStart hooks the library-loading
// functions, DllProtectEnd takes the hooks out again. Its state is set before the hooks go live
// and stays unchanged while they are, so the hooks read it without a lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "dllprotect/dll_event.h"
#include "dllprotect/event_queue.h"
#include "dllprotect/protect_codes.h"
#include "dllprotect/trust_checks.h"

namespace dllprotect {

struct ProtectionState {
  uint32_t options = 0;
  bool reportMode = false;
  bool blockMode = false;
  bool extendedReporting = false;
  std::wstring processName;
  bool active = false;
  bool sectionHooked = false;
  DllEventCallback callback = nullptr;
  void* callbackUser = nullptr;
  std::unique_ptr<EventsCbkDumper> consumer;
  std::unique_ptr<DllEventQueue> queue;
  std::wstring storedReportFolder;  // given by DllProtectSetup; else the default folder is used
  std::unique_ptr<DllEventDump> dump;
  TrustedFolders folders;
  std::set<std::wstring> blacklist;
  std::wstring systemDirectory;
};

ProtectionState& Protection();

// Installed before DllProtectStart: events then go to `callback` (through the event queue)
// instead of the report file.
void SetEventCallback(DllEventCallback callback, void* user);
// The folder report files go to, in place of the default one.
void SetReportFolder(const std::wstring& folder);

// True when the hooks are active. `processName` names the report file; null: the executable's
// file name. Options with report and block mode together are refused.
bool DllProtectStart(uint32_t options, const wchar_t* processName);
void DllProtectEnd();

// Hands an event to the queue when there is one, else writes it to the report file.
void PostDllEvent(const DllProtectInfo& event);
// Writes one event to the report file; dropped (and traced) when it cannot be written.
void DumpDllProtEvent(const DllProtectInfo& event);
// A report of a load started from inside another: `loading` are the names in progress.
void DumpRecursiveDllLoad(int result, const char* hook, const std::wstring& name, DWORD flags,
                          const std::set<std::wstring>& loading);

}  // namespace dllprotect
