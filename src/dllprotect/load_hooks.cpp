#include "dllprotect/load_hooks.h"

#include <memory>
#include <set>
#include <vector>

#include "dllprotect/protect_trace.h"
#include "dllprotect/protection.h"
#include "framework/module_path.h"
#include "framework/utf8.h"
#include "outside/detours/detours.h"

namespace dllprotect {
namespace {

using LoadLibraryWFn = HMODULE(WINAPI*)(LPCWSTR);
using LoadLibraryAFn = HMODULE(WINAPI*)(LPCSTR);
using LoadLibraryExAFn = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
using NtCreateSectionFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, PVOID, PLARGE_INTEGER, ULONG, ULONG, HANDLE);

// The unhooked functions: the functions themselves until an attach makes them trampolines.
LoadLibraryWFn TrueLoadLibraryW = LoadLibraryW;
LoadLibraryExWFn TrueLoadLibraryExW = LoadLibraryExW;
LoadLibraryAFn TrueLoadLibraryA = LoadLibraryA;
LoadLibraryExAFn TrueLoadLibraryExA = LoadLibraryExA;
NtCreateSectionFn TrueNtCreateSection = nullptr;

constexpr ACCESS_MASK kSectionMapExecute = 0x8;
constexpr ULONG kSecImage = 0x1000000;
constexpr LONG kBlacklistedSectionStatus = 5;

// What this thread's hooks are working on. Lives until the thread ends.
struct ThreadLoads {
  std::set<std::wstring> loading;   // names and resolved paths of LoadLibrary calls in progress
  std::set<std::wstring> sections;  // image paths NtCreateSection is working on
  bool reporting = false;           // a recursion report is being written
};

ThreadLoads& ThisThread() {
  thread_local ThreadLoads loads;
  return loads;
}

// An entry of a set for the length of a scope; an entry that was there before stays.
class ScopedEntry {
 public:
  ScopedEntry(std::set<std::wstring>& set, const std::wstring& entry) : m_set(set) {
    auto inserted = set.insert(entry);
    if (inserted.second) m_entry = inserted.first;
    m_owned = inserted.second;
  }
  ~ScopedEntry() {
    if (m_owned) m_set.erase(m_entry);
  }
  ScopedEntry(const ScopedEntry&) = delete;
  ScopedEntry& operator=(const ScopedEntry&) = delete;

 private:
  std::set<std::wstring>& m_set;
  std::set<std::wstring>::iterator m_entry;
  bool m_owned = false;
};

// The result of a true function, with the error code it left.
struct LoadOutcome {
  HMODULE module;
  DWORD error;
};

LoadOutcome CallTrueLoad(const wchar_t* name, HANDLE file, DWORD flags) {
  HMODULE module = TrueLoadLibraryExW(name, file, flags);
  return {module, GetLastError()};
}

struct CallerInfo {
  bool known = false;
  std::wstring name = L"UNKNOWN";
  std::wstring offset = L"UNKNOWN";
};

CallerInfo DescribeCaller(void* address) {
  CallerInfo caller;
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module) ||
      module == nullptr) {
    return caller;
  }
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return caller;
  const wchar_t* slash = wcsrchr(path, L'\\');
  caller.known = true;
  caller.name = slash != nullptr ? slash + 1 : path;
  wchar_t offset[32];
  _snwprintf(offset, 32, L"0x%llx",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(module)));
  caller.offset = offset;
  return caller;
}

bool IsExecutableImageSection(ACCESS_MASK access, PVOID attributes, PLARGE_INTEGER maximumSize, ULONG protection,
                              ULONG allocation) {
  return (access & kSectionMapExecute) != 0 && attributes == nullptr && maximumSize == nullptr &&
         protection == PAGE_EXECUTE && allocation == kSecImage;
}

// "\\?\C:\..." for an open file; empty when the handle yields none.
std::wstring DosPathOfHandle(HANDLE file) {
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return std::wstring();
  std::vector<wchar_t> buffer(32768);
  const DWORD n = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_DOS);
  return n == 0 || n >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), n);
}

LoadOutcome Decide(const std::wstring& name, HANDLE file, DWORD flags, const char* hookName, void* callerAddress) {
  const ProtectionState& state = Protection();
  // Who called is needed only for the trace and for events: loads that pass at once skip it.
  const bool tracing = *dbgtrace::DbgTraceLevel() != 0;
  CallerInfo caller;
  if (tracing) {
    caller = DescribeCaller(callerAddress);
    TraceA("GenericLoadLibrary_Hook called with:");
    Trace(L"Filename: %ls", name.c_str());
    TraceA("hFile: %llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(file)));
    TraceA("Flags: 0x%x", static_cast<unsigned>(flags));
    TraceA("%s", hookName);
    TraceA("CallerAddr: 0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(callerAddress)));
    Trace(L"CallerOffset: %ls", caller.offset.c_str());
    Trace(L"CallerName: %ls", caller.name.c_str());
  }
  ThreadLoads& loads = ThisThread();
  if (loads.loading.count(name) != 0) {
    // Loaded from inside a load of the same name (a DllMain loading itself, say).
    if (!loads.reporting) {
      loads.reporting = true;
      DumpRecursiveDllLoad(kRecursiveLoadLibrary, hookName, name, flags, loads.loading);
      loads.reporting = false;
    }
    return CallTrueLoad(name.c_str(), file, flags);
  }
  ScopedEntry nameEntry(loads.loading, name);
  if (GetModuleHandleW(name.c_str()) != nullptr) return CallTrueLoad(name.c_str(), file, flags);

  std::unique_ptr<ScopedEntry> systemEntry;
  if (name.find_first_of(L"\\/") == std::wstring::npos && !state.systemDirectory.empty()) {
    const std::wstring systemPath = state.systemDirectory + L"\\" + name;
    systemEntry.reset(new ScopedEntry(loads.loading, systemPath));
    const LoadOutcome fromSystem = CallTrueLoad(systemPath.c_str(), file, flags);
    if (fromSystem.module != nullptr) {
      TraceA("Loaded directly from system32");
      return fromSystem;
    }
  }
  const bool blacklistOn = (state.options & kCheckBlacklist) != 0;
  if (state.blockMode && blacklistOn && IsBlacklisted(name, state.blacklist)) {
    return {nullptr, GetLastError()};
  }
  if (IsTrustedPath(name, state.folders)) return CallTrueLoad(name.c_str(), file, flags);

  CheckContext context;
  context.loadLibraryExW = TrueLoadLibraryExW;
  context.options = state.options;
  context.blockMode = state.blockMode;
  context.folders = &state.folders;
  context.blacklist = &state.blacklist;
  std::wstring resolved, error;
  const int result = PerformSecurityChecks(context, name, flags, resolved, error);
  // A refusal is always reported: an administrator must be able to tell why a library did not
  // load. Other outcomes are reported in report mode, and in block mode with extended reporting.
  const bool refused = state.blockMode && (result == kVulnerablePath || result == kDllBlocked);
  if (result != kTrusted && (state.reportMode || state.blockMode) &&
      (state.reportMode || refused || (state.extendedReporting && result != kLoadFailed))) {
    DllProtectInfo event;
    event.requestedName = ov::ToUtf8(name);
    event.flags = HexField(flags);
    event.result = ResultName(state.blockMode && result == kVulnerablePath ? kDllBlocked : result);
    event.hook = hookName;
    event.resolvedPath = result == kLoadFailed ? "UNKNOWN" : ov::ToUtf8(resolved);
    event.error = ov::ToUtf8(error);
    if (!tracing) caller = DescribeCaller(callerAddress);
    if (caller.known) {
      event.callerModule = ov::ToUtf8(caller.name);
      event.callerOffset = ov::ToUtf8(caller.offset);
    }
    PostDllEvent(event);
  }
  if (refused) return {nullptr, GetLastError()};

  const std::wstring full = FullPath(resolved);
  const std::wstring path = full.empty() ? resolved : full;
  ScopedEntry pathEntry(loads.loading, path);
  Trace(L"calling TrueLoadLibraryExW with %ls", path.c_str());
  return CallTrueLoad(path.c_str(), file, flags);
}

HMODULE Finish(const LoadOutcome& outcome) {
  SetLastError(outcome.error);
  return outcome.module;
}

HMODULE WINAPI LoadLibraryW_Hook(LPCWSTR name) {
  void* caller = __builtin_return_address(0);
  LoadOutcome outcome;
  {
    dbgtrace::Scope scope("[DLLPROTECT] :: LoadLibraryW_Hook -> ", "[DLLPROTECT] :: LoadLibraryW_Hook <- ");
    // A null name has nothing to check: the true function answers it.
    outcome = name == nullptr ? CallTrueLoad(nullptr, nullptr, 0) : Decide(name, nullptr, 0, "LoadLibraryW", caller);
  }
  return Finish(outcome);
}

HMODULE WINAPI LoadLibraryExW_Hook(LPCWSTR name, HANDLE file, DWORD flags) {
  void* caller = __builtin_return_address(0);
  LoadOutcome outcome;
  {
    dbgtrace::Scope scope("[DLLPROTECT] :: LoadLibraryExW_Hook -> ", "[DLLPROTECT] :: LoadLibraryExW_Hook <- ");
    outcome = name == nullptr ? CallTrueLoad(nullptr, file, flags) : Decide(name, file, flags, "LoadLibraryExW", caller);
  }
  return Finish(outcome);
}

HMODULE WINAPI LoadLibraryA_Hook(LPCSTR name) {
  void* caller = __builtin_return_address(0);
  LoadOutcome outcome;
  {
    dbgtrace::Scope scope("[DLLPROTECT] :: LoadLibraryA_Hook -> ", "[DLLPROTECT] :: LoadLibraryA_Hook <- ");
    if (name == nullptr) {
      HMODULE module = TrueLoadLibraryA(nullptr);
      outcome = {module, GetLastError()};
    } else {
      outcome = Decide(ov::FromUtf8(name), nullptr, 0, "LoadLibraryA", caller);
    }
  }
  return Finish(outcome);
}

HMODULE WINAPI LoadLibraryExA_Hook(LPCSTR name, HANDLE file, DWORD flags) {
  void* caller = __builtin_return_address(0);
  LoadOutcome outcome;
  {
    dbgtrace::Scope scope("[DLLPROTECT] :: LoadLibraryExA_Hook -> ", "[DLLPROTECT] :: LoadLibraryExA_Hook <- ");
    if (name == nullptr) {
      HMODULE module = TrueLoadLibraryExA(nullptr, file, flags);
      outcome = {module, GetLastError()};
    } else {
      outcome = Decide(ov::FromUtf8(name), file, flags, "LoadLibraryExA", caller);
    }
  }
  return Finish(outcome);
}

LONG NTAPI NtCreateSection_Hook(PHANDLE section, ACCESS_MASK access, PVOID attributes, PLARGE_INTEGER maximumSize,
                                ULONG protection, ULONG allocation, HANDLE file) {
  dbgtrace::Scope scope("[DLLPROTECT] :: NtCreateSection_Hook -> ", "[DLLPROTECT] :: NtCreateSection_Hook <- ");
  const DWORD lastError = GetLastError();
  if (IsExecutableImageSection(access, attributes, maximumSize, protection, allocation)) {
    const std::wstring path = DosPathOfHandle(file);
    if (!path.empty()) {
      const ProtectionState& state = Protection();
      ThreadLoads& loads = ThisThread();
      Trace(L"dos path is %ls", path.c_str());
      const std::wstring plain = path.size() > 4 ? path.substr(4) : path;
      if (loads.loading.count(path) != 0 || loads.loading.count(plain) != 0) {
        TraceA("dos path was in loadlibrary hook");
      } else if (loads.sections.count(path) != 0) {
        if (state.extendedReporting && !loads.reporting) {
          loads.reporting = true;
          DumpRecursiveDllLoad(kRecursiveNtCreateSection, "NtCreateSection", path, allocation, loads.sections);
          loads.reporting = false;
        }
      } else {
        ScopedEntry sectionEntry(loads.sections, path);
        if ((state.options & kCheckBlacklist) && IsBlacklisted(plain, state.blacklist)) {
          return kBlacklistedSectionStatus;
        }
        const bool reporting = state.extendedReporting || state.reportMode;
        if (!IsTrustedPath(plain, state.folders) &&
            ((state.options & kCheckWriteAccess) == 0 || CanUserWrite(ov::FolderOf(plain))) && reporting &&
            !loads.reporting) {
          loads.reporting = true;
          DumpRecursiveDllLoad(kVulnerablePathNtCreateSection, "NtCreateSection", path, allocation, loads.sections);
          loads.reporting = false;
        }
      }
    }
  }
  SetLastError(lastError);
  return TrueNtCreateSection(section, access, attributes, maximumSize, protection, allocation, file);
}

template <typename Fn>
bool Attach(Fn& truePointer, Fn hook) {
  return DetourAttach(reinterpret_cast<PVOID*>(&truePointer), reinterpret_cast<PVOID>(hook)) == NO_ERROR;
}

template <typename Fn>
bool Detach(Fn& truePointer, Fn hook) {
  return DetourDetach(reinterpret_cast<PVOID*>(&truePointer), reinterpret_cast<PVOID>(hook)) == NO_ERROR;
}

}  // namespace

HMODULE GenericLoadLibrary_Hook(const std::wstring& name, HANDLE file, DWORD flags, const char* hookName,
                                void* caller) {
  return Finish(Decide(name, file, flags, hookName, caller));
}

bool AttachLoadLibraryHooks() {
  return Attach(TrueLoadLibraryW, &LoadLibraryW_Hook) && Attach(TrueLoadLibraryExW, &LoadLibraryExW_Hook) &&
         Attach(TrueLoadLibraryA, &LoadLibraryA_Hook) && Attach(TrueLoadLibraryExA, &LoadLibraryExA_Hook);
}

bool DetachLoadLibraryHooks() {
  return Detach(TrueLoadLibraryW, &LoadLibraryW_Hook) && Detach(TrueLoadLibraryExW, &LoadLibraryExW_Hook) &&
         Detach(TrueLoadLibraryA, &LoadLibraryA_Hook) && Detach(TrueLoadLibraryExA, &LoadLibraryExA_Hook);
}

bool AttachNtCreateSectionHook(void* ntCreateSection) {
  TrueNtCreateSection = reinterpret_cast<NtCreateSectionFn>(ntCreateSection);
  return Attach(TrueNtCreateSection, &NtCreateSection_Hook);
}

bool DetachNtCreateSectionHook() { return Detach(TrueNtCreateSection, &NtCreateSection_Hook); }

}  // namespace dllprotect
