#include "installer/palisk/process_reader.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/scoped_handle.h"

namespace palisk {
namespace {

// Where the command line sits, for one pointer width: PROCESS_BASIC_INFORMATION and its PEB
// pointer, the PEB's ProcessParameters pointer, and the parameters' CommandLine (a
// UNICODE_STRING: 16-bit length in bytes, then the buffer pointer).
struct PebLayout {
  size_t basicInformationSize;
  size_t pebBaseOffset;
  size_t pebParametersOffset;
  size_t parametersSize;
  size_t commandLineOffset;
  size_t commandLineBufferOffset;
  size_t pointerSize;
};
constexpr PebLayout kPeb64 = {48, 8, 0x20, 0x80, 0x70, 0x78, 8};
constexpr PebLayout kPeb32 = {24, 4, 16, 72, 64, 68, 4};
#ifdef _WIN64
constexpr PebLayout kNativePeb = kPeb64;
#else
constexpr PebLayout kNativePeb = kPeb32;
#endif

template <typename Fn>
Fn NtdllProc(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

const ProcessApi& SystemProcessApi() {
  static const ProcessApi api = {
      IsWow64Process,
      NtdllProc<decltype(ProcessApi::queryInformation)>("ZwQueryInformationProcess"),
      ReadProcessMemory,
      NtdllProc<decltype(ProcessApi::wow64QueryInformation64)>("NtWow64QueryInformationProcess64"),
      NtdllProc<decltype(ProcessApi::wow64ReadMemory64)>("NtWow64ReadVirtualMemory64"),
  };
  return api;
}

const ProcessApi* g_processApi = nullptr;

uint64_t PointerAt(const uint8_t* at, size_t size) {
  uint64_t value = 0;
  memcpy(&value, at, size);  // little-endian: a 4-byte pointer fills the low half
  return value;
}

// One way of reaching the other process's memory: its own width's calls, or WoW64's.
struct MemoryAccess {
  const PebLayout& layout;
  LONG (*query)(const ProcessApi&, HANDLE, void*, ULONG);
  bool (*read)(const ProcessApi&, HANDLE, uint64_t, void*, size_t);
};

const MemoryAccess kNativeAccess = {
    kNativePeb,
    [](const ProcessApi& api, HANDLE process, void* buffer, ULONG size) {
      return api.queryInformation(process, 0, buffer, size, nullptr);
    },
    [](const ProcessApi& api, HANDLE process, uint64_t address, void* buffer, size_t size) {
      return api.readMemory(process, reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), buffer, size,
                            nullptr) != FALSE;
    },
};

const MemoryAccess kWow64Access = {
    kPeb64,
    [](const ProcessApi& api, HANDLE process, void* buffer, ULONG size) {
      return api.wow64QueryInformation64(process, 0, buffer, size, nullptr);
    },
    [](const ProcessApi& api, HANDLE process, uint64_t address, void* buffer, size_t size) {
      return api.wow64ReadMemory64(process, address, buffer, size, nullptr) >= 0;
    },
};

std::wstring Why(const wchar_t* format, unsigned long value) {
  wchar_t text[160];
  _snwprintf(text, 160, format, value);
  text[159] = L'\0';
  return text;
}

// A 32-bit process on 64-bit Windows whose target runs natively 64-bit.
bool TargetIsWiderThanUs(const ProcessApi& api, HANDLE process) {
  BOOL selfWow64 = FALSE, targetWow64 = FALSE;
  if (api.isWow64Process == nullptr || !api.isWow64Process(GetCurrentProcess(), &selfWow64) || !selfWow64) return false;
  return api.isWow64Process(process, &targetWow64) && !targetWow64;
}

}  // namespace

const ProcessApi& ActiveProcessApi() { return g_processApi != nullptr ? *g_processApi : SystemProcessApi(); }

void SetProcessApi(const ProcessApi* api) { g_processApi = api; }

std::wstring ReadProcessCommandLine(HANDLE process, std::wstring& why) {
  const ProcessApi& api = ActiveProcessApi();
  const bool wider = TargetIsWiderThanUs(api, process);
  if (wider && (api.wow64QueryInformation64 == nullptr || api.wow64ReadMemory64 == nullptr)) {
    why = L"the parent is a 64-bit process and this system has no WoW64 64-bit read calls";
    return std::wstring();
  }
  if (!wider && api.queryInformation == nullptr) {
    why = Why(L"could not get proc address ZwQueryInformationProcess<%d>", ERROR_PROC_NOT_FOUND);
    return std::wstring();
  }
  const MemoryAccess& access = wider ? kWow64Access : kNativeAccess;
  const PebLayout& layout = access.layout;

  uint8_t basic[48] = {};
  const LONG status = access.query(api, process, basic, static_cast<ULONG>(layout.basicInformationSize));
  if (status < 0) {
    why = Why(L"ZwQueryInformationProcess ret<%d>", static_cast<unsigned long>(status));
    return std::wstring();
  }
  std::vector<uint8_t> peb(layout.pebParametersOffset + layout.pointerSize);
  if (!access.read(api, process, PointerAt(basic + layout.pebBaseOffset, layout.pointerSize), peb.data(), peb.size())) {
    why = Why(L"ReadProcessMemory peb error<%d>", GetLastError());
    return std::wstring();
  }
  std::vector<uint8_t> parameters(layout.parametersSize);
  if (!access.read(api, process, PointerAt(&peb[layout.pebParametersOffset], layout.pointerSize), parameters.data(),
                   parameters.size())) {
    why = Why(L"ReadProcessMemory procParams error<%d>", GetLastError());
    return std::wstring();
  }
  uint16_t lengthBytes;
  memcpy(&lengthBytes, &parameters[layout.commandLineOffset], 2);
  if (lengthBytes == 0) return std::wstring();
  std::vector<uint8_t> text(lengthBytes + 2u, 0);
  if (!access.read(api, process, PointerAt(&parameters[layout.commandLineBufferOffset], layout.pointerSize), text.data(),
                   lengthBytes)) {
    why = Why(L"ReadProcessMemory cmdLine error<%d>", GetLastError());
    return std::wstring();
  }
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), lengthBytes / 2);
}

std::wstring ProcessImagePath(HANDLE process) {
  // QueryFullProcessImageNameW answers across bitness; GetModuleFileNameExW from a WoW64
  // process on a 64-bit one fails with ERROR_PARTIAL_COPY.
  std::vector<wchar_t> buffer(32768);
  DWORD size = static_cast<DWORD>(buffer.size());
  if (QueryFullProcessImageNameW(process, 0, buffer.data(), &size) && size > 0) {
    return std::wstring(buffer.data(), size);
  }
  const DWORD n = GetModuleFileNameExW(process, nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return n > 0 && n < buffer.size() ? std::wstring(buffer.data(), n) : std::wstring();
}

}  // namespace palisk
