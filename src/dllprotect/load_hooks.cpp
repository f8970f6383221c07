#include "dllprotect/load_hooks.h"

#include <memory>
#include <set>
#include <vector>

#include "dllprotect/nt_paths.h"
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
constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);

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

// A refused load: null, with an error that says why.
LoadOutcome Refused() { return {nullptr, ERROR_ACCESS_DENIED}; }

// "C:\..." or "\\server\share\..." (and "\\?\..."): a name the loader takes as it stands, without
// searching. Anything else is looked for along the search path the caller's flags choose.
bool IsAbsolutePath(const std::wstring& name) {
  if (name.size() >= 3 && name[1] == L':' && (name[2] == L'\\' || name[2] == L'/')) return true;
  return name.size() >= 2 && (name[0] == L'\\' || name[0] == L'/') && (name[1] == L'\\' || name[1] == L'/');
}

// The LOAD_LIBRARY_SEARCH_* flags: with any of them the current folder is never searched.
constexpr DWORD kSearchFlags = 0x1F00;

// Windows maps a data file along the same search as the load it stands for. Wine's data-file
// loads ignore the search flags and look in the current folder as well, so there a relative name
// can be judged at a file that the load itself would never take: one in the current folder
// (unless that is also the application or system folder, which the flags may name).
bool FoundWhereTheLoaderDoesNotLook(const std::wstring& name, DWORD flags, const std::wstring& resolved,
                                    const ProtectionState& state) {
  if (IsAbsolutePath(name) || (flags & kSearchFlags) == 0) return false;
  wchar_t current[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, current);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::wstring folder = ov::FolderOf(resolved);
  return SameDirectory(folder, current) && !SameDirectory(folder, state.folders.executable) &&
         !SameDirectory(folder, state.folders.system);
}

void Report(const ProtectionState& state, int result, const std::wstring& name, DWORD flags, const char* hookName,
            const std::wstring& resolved, const std::wstring& error, CallerInfo& caller, bool described,
            void* callerAddress) {
  DllProtectInfo event;
  event.requestedName = ov::ToUtf8(name);
  event.flags = HexField(flags);
  event.result = ResultName(state.blockMode && result == kVulnerablePath ? kDllBlocked : result);
  event.hook = hookName;
  event.resolvedPath = result == kLoadFailed ? "UNKNOWN" : ov::ToUtf8(resolved);
  event.error = ov::ToUtf8(error);
  if (!described) caller = DescribeCaller(callerAddress);
  if (caller.known) {
    event.callerModule = ov::ToUtf8(caller.name);
    event.callerOffset = ov::ToUtf8(caller.offset);
  }
  PostDllEvent(event);
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
  if (state.blockMode && blacklistOn && IsBlacklisted(name, state.blacklist)) return Refused();
  // Only a name the loader takes as it stands can be judged by its text; a relative one is
  // judged where the loader's search really finds it, below.
  if (IsAbsolutePath(name) && IsTrustedPath(name, state.folders)) return CallTrueLoad(name.c_str(), file, flags);

  CheckContext context;
  context.loadLibraryExW = TrueLoadLibraryExW;
  context.options = state.options;
  context.blockMode = state.blockMode;
  context.folders = &state.folders;
  context.blacklist = &state.blacklist;
  std::wstring resolved, error;
  const int result = PerformSecurityChecks(context, name, flags, resolved, error);
  if ((result == kTrusted || result == kVulnerablePath || result == kDllBlocked) &&
      FoundWhereTheLoaderDoesNotLook(name, flags, resolved, state)) {
    // Judged a file the real load would not take: nothing to report; refused in block mode (the
    // load might find an unchecked file elsewhere), else the loader answers.
    return state.blockMode ? Refused() : CallTrueLoad(name.c_str(), file, flags);
  }
  // In block mode a file that could not be judged (its path unknown) is refused like one that
  // was judged vulnerable. A refusal is always reported: an administrator must be able to tell
  // why a library did not load. Other outcomes are reported in report mode, and in block mode
  // with extended reporting.
  const bool unjudged = result == kGetPathFailed || result == kGetMappedFileFailed;
  const bool refused = state.blockMode && (result == kVulnerablePath || result == kDllBlocked || unjudged);
  if (result != kTrusted && (state.reportMode || state.blockMode) &&
      (state.reportMode || refused || (state.extendedReporting && result != kLoadFailed))) {
    Report(state, result, name, flags, hookName, resolved, error, caller, tracing, callerAddress);
  }
  if (refused) return Refused();
  // Nothing was found where the caller's flags look: the true function gives the caller the
  // loader's own answer (and its error), with the caller's name, never a guess of ours.
  if (result == kLoadFailed || unjudged) return CallTrueLoad(name.c_str(), file, flags);

  // The file that went through the checks, by its full path, with the caller's flags.
  ScopedEntry pathEntry(loads.loading, resolved);
  Trace(L"calling TrueLoadLibraryExW with %ls", resolved.c_str());
  return CallTrueLoad(resolved.c_str(), file, flags);
}

// The wide form of a name given to an A-function, in the code page the file functions use.
std::wstring FromFileApiCodePage(const char* name) {
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int length = MultiByteToWideChar(codePage, 0, name, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, name, -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
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
    const std::wstring wide = name != nullptr ? FromFileApiCodePage(name) : std::wstring();
    if (wide.empty()) {  // nothing to check (a null name, or one that does not convert)
      HMODULE module = TrueLoadLibraryA(name);
      outcome = {module, GetLastError()};
    } else {
      outcome = Decide(wide, nullptr, 0, "LoadLibraryA", caller);
    }
  }
  return Finish(outcome);
}

HMODULE WINAPI LoadLibraryExA_Hook(LPCSTR name, HANDLE file, DWORD flags) {
  void* caller = __builtin_return_address(0);
  LoadOutcome outcome;
  {
    dbgtrace::Scope scope("[DLLPROTECT] :: LoadLibraryExA_Hook -> ", "[DLLPROTECT] :: LoadLibraryExA_Hook <- ");
    const std::wstring wide = name != nullptr ? FromFileApiCodePage(name) : std::wstring();
    if (wide.empty()) {
      HMODULE module = TrueLoadLibraryExA(name, file, flags);
      outcome = {module, GetLastError()};
    } else {
      outcome = Decide(wide, file, flags, "LoadLibraryExA", caller);
    }
  }
  return Finish(outcome);
}

// An event of the section hook about the image at `path`.
void ReportSection(int result, const std::wstring& path, ULONG allocation, const char* error) {
  DllProtectInfo event;
  event.requestedName = ov::ToUtf8(path);
  event.resolvedPath = event.requestedName;
  event.result = ResultName(result);
  event.hook = "NtCreateSection";
  event.flags = HexField(allocation);
  event.error = error;
  PostDllEvent(event);
}

LONG NTAPI NtCreateSection_Hook(PHANDLE section, ACCESS_MASK access, PVOID attributes, PLARGE_INTEGER maximumSize,
                                ULONG protection, ULONG allocation, HANDLE file) {
  dbgtrace::Scope scope("[DLLPROTECT] :: NtCreateSection_Hook -> ", "[DLLPROTECT] :: NtCreateSection_Hook <- ");
  const DWORD lastError = GetLastError();
  if (IsExecutableImageSection(access, attributes, maximumSize, protection, allocation)) {
    // "C:\..." or "\\server\share\..." (a volume without a DOS name keeps "\\?\Volume{...}\...").
    std::wstring path;
    if (DosPathOfFile(file, path) == 0) {
      const ProtectionState& state = Protection();
      ThreadLoads& loads = ThisThread();
      Trace(L"dos path is %ls", path.c_str());
      // A load in progress holds the name it was given, which may be the "\\?\" form.
      if (loads.loading.count(path) != 0 || loads.loading.count(L"\\\\?\\" + path) != 0) {
        TraceA("dos path was in loadlibrary hook");
      } else if (loads.sections.count(path) != 0) {
        if (state.extendedReporting && !loads.reporting) {
          loads.reporting = true;
          DumpRecursiveDllLoad(kRecursiveNtCreateSection, "NtCreateSection", path, allocation, loads.sections);
          loads.reporting = false;
        }
      } else {
        ScopedEntry sectionEntry(loads.sections, path);
        if ((state.options & kCheckBlacklist) && IsBlacklisted(path, state.blacklist)) {
          // Refused, unless report mode asks only to tell: then the hit is reported and allowed.
          if (!loads.reporting) {
            loads.reporting = true;
            ReportSection(state.reportMode ? kVulnerablePathNtCreateSection : kDllBlocked, path, allocation,
                          "blacklisted");
            loads.reporting = false;
          }
          if (!state.reportMode) return kStatusAccessDenied;
        } else if (!IsTrustedPath(path, state.folders) &&
                   ((state.options & kCheckWriteAccess) == 0 || CanUserWrite(ov::FolderOf(path))) &&
                   (state.extendedReporting || state.reportMode) && !loads.reporting) {
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
