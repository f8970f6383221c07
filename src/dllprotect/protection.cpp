#include "dllprotect/protection.h"

#include <shlwapi.h>

#include <new>

#include "dllprotect/load_hooks.h"
#include "dllprotect/protect_trace.h"
#include "framework/module_path.h"
#include "framework/utf8.h"
#include "outside/detours/detours.h"

namespace dllprotect {
namespace {

std::wstring ExecutableFileName() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return PathFindFileNameW(path);
}

std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  const UINT n = GetSystemDirectoryW(path, MAX_PATH);
  return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(path, n);
}

}  // namespace

const char* ResultName(int code) {
  static const char* const kNames[] = {"SUCCESS",
                                       "INIT_DETOUR_FAILED",
                                       "LOAD_FAILED",
                                       "GETPATH_FAILED",
                                       "GETMAPPEDFILE_FAILED",
                                       "VULNERABLE_PATH",
                                       "VULNERABLE_PATH_NTCREATE_SECTION",
                                       "INVALID_SIGNATURE",
                                       "RECURSIVE_DLL_LOAD_LOADLIBRARY",
                                       "RECURSIVE_DLL_LOAD_NTCREATESECTION",
                                       "DLL_BLOCKED"};
  return code >= 0 && code < static_cast<int>(sizeof kNames / sizeof kNames[0]) ? kNames[code] : "UNKNOWN";
}

ProtectionState& Protection() {
  static ProtectionState* state = new ProtectionState();  // hooks may run until the very end
  return *state;
}

void SetEventCallback(DllEventCallback callback, void* user) {
  Protection().callback = callback;
  Protection().callbackUser = user;
}

void SetReportFolder(const std::wstring& folder) { Protection().storedReportFolder = folder; }

void DumpDllProtEvent(const DllProtectInfo& event) {
  const ProtectionState& state = Protection();
  if (state.dump) state.dump->Dump(event);
}

void PostDllEvent(const DllProtectInfo& event) {
  ProtectionState& state = Protection();
  if (state.queue) state.queue->Post(event);
  else DumpDllProtEvent(event);
}

void DumpRecursiveDllLoad(int result, const char* hook, const std::wstring& name, DWORD flags,
                          const std::set<std::wstring>& loading) {
  DllProtectInfo event;
  event.requestedName = ov::ToUtf8(name);
  event.result = ResultName(result);
  event.hook = hook;
  event.flags = HexField(flags);
  std::string names;
  for (const std::wstring& entry : loading) {
    if (!names.empty()) names += ",";
    names += ov::ToUtf8(entry);
  }
  event.error = "loaded dlls: " + names;
  PostDllEvent(event);
}

bool DllProtectStart(uint32_t options, const wchar_t* processName) {
  dbgtrace::Scope scope("[DLLPROTECT] :: DllProtectStart -> ", "[DLLPROTECT] :: DllProtectStart <- ");
  ProtectionState& state = Protection();
  Trace(L"options: %d, proc_name: %ls", static_cast<int>(options), processName != nullptr ? processName : L"(null)");
  if (state.active) return true;  // one protection per process
  state.options = options;
  state.reportMode = (options & kReportMode) != 0;
  state.blockMode = (options & kBlockMode) != 0;
  state.extendedReporting = (options & kExtendedReporting) != 0;
  if (state.reportMode && state.blockMode) {
    TraceA("cannot activate dllprotect in report mode and block mode at the same time");
    return false;
  }
  state.processName = processName != nullptr ? processName : ExecutableFileName();

  const std::wstring reportFolder = state.storedReportFolder.empty() ? DefaultReportFolder() : state.storedReportFolder;
  if (!state.storedReportFolder.empty()) CreateDirectoryW(reportFolder.c_str(), nullptr);
  state.dump.reset(new (std::nothrow) DllEventDump(reportFolder, state.processName));
  state.blacklist = ReadBlacklistJson(ov::FolderOf(ov::ModuleFilePath(nullptr)) + L"\\dllblacklist.json");
  state.folders = TrustedFolders::OfThisProcess();
  state.systemDirectory = SystemDirectory();

  // An installed callback takes every event, in block mode too: a protection told not to report
  // writes no file whatever its mode.
  if ((options & (kReportMode | kBlockMode | kExtendedReporting)) != 0 && state.callback != nullptr &&
      !state.queue) {
    state.consumer.reset(new (std::nothrow) EventsCbkDumper(state.callback, state.callbackUser));
    if (!state.consumer) {
      TraceA("failed to alloc events consumer");
      return false;
    }
    state.queue.reset(new (std::nothrow) DllEventQueue(*state.consumer));
    if (!state.queue) {
      TraceA("failed to alloc events queue");
      state.consumer.reset();
      return false;
    }
  }
  if ((options & kNoSearchPathMode) == 0) {
    SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  }
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) {
    TraceA("cannot get ntdll.dll module handle");
    return false;
  }
  void* ntCreateSection = reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateSection"));
  if (ntCreateSection == nullptr) {
    TraceA("cannot get NtCreateSection proc address");
    return false;
  }

  DetourTransactionBegin();
  DetourUpdateThread(GetCurrentThread());
  if (!AttachLoadLibraryHooks()) {
    DetourTransactionAbort();
    DllProtectInfo event;
    event.result = ResultName(kInitDetourFailed);
    PostDllEvent(event);
    return false;
  }
  if (options & kHookNtCreateSection) {
    TraceA("activating NtCreateSection_Hook");
    if (!AttachNtCreateSectionHook(ntCreateSection)) {
      DetourTransactionAbort();
      return false;
    }
  }
  if (DetourTransactionCommit() != NO_ERROR) return false;
  state.sectionHooked = (options & kHookNtCreateSection) != 0;

  // One signature check right away: WinVerifyTrust loads its providers now, under the hooks,
  // rather than in the middle of the first untrusted load.
  wchar_t ntdllPath[MAX_PATH] = L"";
  GetModuleFileNameW(ntdll, ntdllPath, MAX_PATH);
  const bool signedNtdll = VerifyEmbeddedSignature(ntdllPath);
  Trace(L"signature check moking mocking for %ls returned %d", ntdllPath, signedNtdll ? 1 : 0);

  state.active = true;
  return true;
}

void DllProtectEnd() {
  dbgtrace::Scope scope("[DLLPROTECT] :: DllProtectEnd -> ", "[DLLPROTECT] :: DllProtectEnd <- ");
  ProtectionState& state = Protection();
  if (state.active) {
    DetourTransactionBegin();
    DetourUpdateThread(GetCurrentThread());
    if (!DetachLoadLibraryHooks() || (state.sectionHooked && !DetachNtCreateSectionHook())) {
      DetourTransactionAbort();
      return;  // the hooks stay, and with them what they post to
    }
    if (DetourTransactionCommit() != NO_ERROR) return;
    state.active = false;
    state.sectionHooked = false;
  }
  // Also after a start that failed once the queue was made: its worker must not outlive us.
  if (state.queue) {
    state.queue->Stop();
    state.queue.reset();
    state.consumer.reset();
  }
}

}  // namespace dllprotect
