#include "dllprotect/protect_switches.h"

#include <shlwapi.h>

#include <string>

#include "dllprotect/dll_event.h"
#include "dllprotect/protect_codes.h"
#include "dllprotect/protect_trace.h"
#include "framework/scoped_handle.h"
#include "framework/system_library.h"

namespace dllprotect {
namespace {

constexpr wchar_t kIfeoKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
constexpr DWORD kNameUnreadable = 1627;  // ERROR_FUNCTION_FAILED

bool IfeoIs(const std::wstring& executable, const wchar_t* valueName, bool (*accept)(DWORD)) {
  DWORD value = 0;
  return ReadIfeoDword(executable, valueName, value) == ERROR_SUCCESS && accept(value);
}

}  // namespace

bool IsSwitchSet(const char* suffix) {
  const std::string name = std::string(kSwitchPrefix) + suffix;
  SetLastError(ERROR_SUCCESS);
  if (GetEnvironmentVariableA(name.c_str(), nullptr, 0) != 0) return true;
  return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

DWORD ExecutableNameForIfeo(std::wstring& name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n == MAX_PATH) return kNameUnreadable;
  name = PathFindFileNameW(path);
  return 0;
}

LONG ReadIfeoDword(const std::wstring& executable, const wchar_t* valueName, DWORD& value) {
  HKEY raw = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kIfeoKey + executable).c_str(), 0, KEY_QUERY_VALUE, &raw);
  if (result != ERROR_SUCCESS) return result;
  ov::ScopedRegKey key(raw);
  DWORD type = 0, size = sizeof value;
  result = RegQueryValueExW(raw, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) return ERROR_INVALID_DATA;
  if (result == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  return result;
}

void RunPathSanitiser() {
  bool on = IsSwitchSet(kSanitiserOn);
  if (IsSwitchSet(kSanitiserOff)) return;
  if (!on) {
    std::wstring executable;
    on = ExecutableNameForIfeo(executable) == 0 &&
         IfeoIs(executable, kIfeoSanitiser, [](DWORD value) { return value == 1; });
  }
  if (!on) return;
  // The process already searches only the system folder (palisk's first step). The sanitiser
  // restricts no less: LOAD_LIBRARY_SEARCH_DEFAULT_DIRS would add the executable's folder back.
  ov::RestrictDllSearchToSystemFolder();

  std::wstring folder;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n != 0 && n != MAX_PATH && PathRemoveFileSpecW(path)) folder = path;
  wchar_t system[MAX_PATH] = L"";
  const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
  if (systemLength >= MAX_PATH) system[0] = 0;
  const std::wstring value = folder + L";" + system;
  SetEnvironmentVariableW(L"PATH", value.c_str());
  Trace(L"PATH sanitised to %ls", value.c_str());
}

uint32_t ProtectionDecision::Options() const { return blockMode ? kPaliskBlockOptions : kPaliskReportOptions; }

ProtectionDecision DecideProtection() {
  ProtectionDecision decision;
  bool enabled = IsSwitchSet(kProtectionOn);
  if (IsSwitchSet(kProtectionBlock)) {
    decision.blockMode = true;
    enabled = true;
  }
  const bool noReport = IsSwitchSet(kProtectionNoReport);
  decision.fromEnvironment = enabled;
  if (IsSwitchSet(kProtectionOff)) return decision;
  const bool nameRead = ExecutableNameForIfeo(decision.processName) == 0;
  if (!enabled) {
    if (!nameRead) return decision;
    enabled = IfeoIs(decision.processName, kIfeoProtection, [](DWORD value) { return value != 0; });
  }
  if (!enabled) return decision;

  decision.reportFolder = ProgramDataReportFolder();
  decision.report = decision.fromEnvironment ? !noReport && !decision.reportFolder.empty() : !noReport;
  decision.start = true;
  return decision;
}

}  // namespace dllprotect
