#include "installer/palisk/installer_launch.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"
#include "installer/palisk/command_line.h"
#include "installer/palisk/held_file.h"
#include "installer/palisk/os_info.h"
#include "installer/palisk/productconfig.h"
#include "installer/palisk/run_result_codes.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

using namespace RovEveduzodi::BinaryLogger;
constexpr char kProductConfigSource[] = "productconfig.cpp";
constexpr char kUtilsSource[] = "utils.cpp";
constexpr char kPaliskSource[] = "palisk.cpp";
constexpr uint32_t kElevationRequired = 740;
constexpr uint32_t kBadSignature = run_result::kInstallerNotTrusted;

const ProcessWait kSystemWait = {&WaitForSingleObject, &GetExitCodeProcess};
const ProcessWait* g_wait = &kSystemWait;

// The process's exit code into `code`; false with the Win32 error in `code` when the wait or
// the reading of the code fails, so that a run never passes for a success it cannot know.
bool AwaitExitCode(HANDLE process, uint32_t& code) {
  DWORD read = 0;
  if (g_wait->wait(process, INFINITE) != WAIT_OBJECT_0 || !g_wait->exitCode(process, &read)) {
    const DWORD error = GetLastError();
    code = error != 0 ? error : ERROR_FUNCTION_FAILED;
    return false;
  }
  code = read;
  return true;
}

}  // namespace

void SetProcessWaitForTesting(const ProcessWait* functions) { g_wait = functions != nullptr ? functions : &kSystemWait; }

std::wstring InstallerParameters(const std::wstring& kitParameters, const LaunchParameters& launch, bool silent) {
  std::wstring parameters = L" " + kitParameters;
  if (!launch.runParams.IsEmpty()) {
    parameters += L" ";
    parameters += launch.runParams.c_str();
  } else {
    if (silent) parameters += L" /silent";
    if (!launch.taskId.IsEmpty()) {
      parameters += L" taskId=\"" + UrlForQuotedArgument(launch.taskId.c_str()) + L"\"";
    }
  }
  if (launch.onlyCheckPrerequisites) parameters += L" /onlyCheckPrerequisites";
  return parameters;
}

bool RunProcess(const std::wstring& commandLine, const std::wstring& directory, uint32_t* exitCode) {
  const char* const kLogSource = kUtilsSource;
  using DisableFn = BOOL(WINAPI*)(PVOID*);
  using RevertFn = BOOL(WINAPI*)(PVOID);
  HMODULE kernel = GetModuleHandleW(L"kernel32");
  auto disable = ov::GetProc<DisableFn>(kernel, "Wow64DisableWow64FsRedirection");
  auto revert = ov::GetProc<RevertFn>(kernel, "Wow64RevertWow64FsRedirection");
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (!directory.empty()) {
    PALISK_LOG(kInfo, L"[PALISK] Running: %s in %s", commandLine.c_str(), directory.c_str());
  } else {
    PALISK_LOG(kInfo, L"[PALISK] Running: %s", commandLine.c_str());
  }
  PVOID redirection = nullptr;
  const bool redirectionOff = IsOs64Bit() && disable != nullptr && disable(&redirection);
  std::wstring mutableLine = commandLine;
  PROCESS_INFORMATION process = {};
  const bool started = CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      directory.empty() ? nullptr : directory.c_str(), &startup, &process) != FALSE;
  const DWORD startError = GetLastError();
  // Redirection is per thread: back on right after the start.
  if (redirectionOff && revert != nullptr) revert(redirection);
  bool ended = false;
  if (started) {
    PALISK_LOG(kInfo, L"[PALISK] Started %s with pid %d", commandLine.c_str(), process.dwProcessId);
    CloseHandle(process.hThread);
    uint32_t code = 0;
    ended = AwaitExitCode(process.hProcess, code);
    if (!ended) PALISK_LOG(kError, L"[PALISK] Waiting for pid %d failed [ret:%d]", process.dwProcessId, code);
    if (exitCode != nullptr) *exitCode = code;
    CloseHandle(process.hProcess);
  } else if (exitCode != nullptr) {
    *exitCode = startError;
    PALISK_LOG(kInfo, L"[PALISK] Failed to run [ret:%d]: %s", startError, commandLine.c_str());
  } else {
    PALISK_LOG(kInfo, L"[PALISK] Failed to run : %s", commandLine.c_str());
  }
  return ended;
}

void SetHardwareId(const std::wstring& hwid) {
  const char* const kLogSource = kProductConfigSource;
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                    L"System\\CurrentControlSet\\Control\\IDConfigDB\\Hardware Profiles\\0001", 0,
                                    KEY_SET_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    PALISK_LOG(kWarning, L"[PALISK] set hwid key: openkey ret err[%d]", opened);
    return;
  }
  const LONG set = RegSetValueExW(key, L"SNAGHWID", 0, REG_SZ, reinterpret_cast<const BYTE*>(hwid.c_str()),
                                  static_cast<DWORD>((hwid.size() + 1) * sizeof(wchar_t)));
  PALISK_LOG(kInfo, L"[PALISK] set hwid key: setvalue ret err[%d], hwid[%s]", set, hwid.c_str());
  RegCloseKey(key);
}

std::wstring StatusFilePath(const std::wstring& parentPath, uint32_t code) {
  const size_t slash = parentPath.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::wstring();
  std::wstring folder = parentPath.substr(0, slash);
  if (folder.empty()) return std::wstring();
  wchar_t name[32];
  _snwprintf(name, 32, L"%d.ret", static_cast<int>(code));
  name[31] = 0;
  if (folder.back() != L'\\') folder += L'\\';
  return folder + name;
}

uint32_t WriteStatusFile(uint32_t code) {
  const char* const kLogSource = kPaliskSource;
  std::wstring parent;
  GetParentImagePath(parent);
  PALISK_LOG(kInfo, L"[SETUP] Status to file package file %s", parent.c_str());
  const std::wstring path = StatusFilePath(parent, code);
  if (path.empty()) return 0;
  ov::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_ALL, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  PALISK_LOG(kInfo, L"[SETUP] Status to file log file %s", path.c_str());
  return 0;
}

uint32_t RunPostDownloadActions(const LaunchParameters& launch, const std::wstring& workingFolder,
                                CProductConfig& configuration) {
  const char* const kLogSource = kProductConfigSource;
  const int architecture = IsOs64Bit() ? CProductConfig::kArch64 : CProductConfig::kArch32;
  std::wstring path, kitParameters;
  const int32_t command = configuration.GetRunCommand(path, kitParameters, architecture);
  if (command != 0) return static_cast<uint32_t>(command);
  const std::wstring parameters = InstallerParameters(kitParameters, launch, configuration.Silent());
  if (!launch.hwid.IsEmpty()) SetHardwareId(launch.hwid.c_str());

  uint32_t exitCode = 0;
  bool started = false;
  // The installer is checked and started while its file (and every verified kit file) is
  // held: nothing can replace it between the check and the start, nor while it runs. A kit
  // installer that was not downloaded is held here for as long.
  const HeldFile* installer = configuration.Downloader().HeldFileAt(path);
  HeldFile heldHere;
  if (installer == nullptr && heldHere.Open(path) == 0) installer = &heldHere;
  const bool trusted = installer != nullptr && configuration.Downloader().Verifier().IsFileTrusted(*installer, false);
  if (!trusted) {
    PALISK_LOG(kError, L"File \"%s\" failed signature check.", path.c_str());
    exitCode = kBadSignature;
  } else {
    const std::wstring commandLine = L"\"" + path + L"\"" + parameters;
    started = RunProcess(commandLine, workingFolder, &exitCode);
    if (exitCode == kElevationRequired) {
      PALISK_LOG(kInfo, L"[PALISK] elevation required.");
      PALISK_LOG(kInfo, L"[PALISK] RunElevated [%s] [%s].", path.c_str(), parameters.c_str());
      SHELLEXECUTEINFOW execute = {};
      execute.cbSize = sizeof execute;
      execute.fMask = SEE_MASK_NOCLOSEPROCESS;
      execute.lpVerb = L"runas";
      execute.lpFile = path.c_str();
      execute.lpParameters = parameters.c_str();
      execute.lpDirectory = workingFolder.c_str();
      execute.nShow = SW_SHOW;
      if (ShellExecuteExW(&execute)) {
        started = true;
        if (execute.hProcess != nullptr) {
          started = AwaitExitCode(execute.hProcess, exitCode);
          if (!started) PALISK_LOG(kError, L"[PALISK] Waiting for the elevated installer failed [ret:%d]", exitCode);
          CloseHandle(execute.hProcess);
        }
      } else {
        exitCode = GetLastError();
        PALISK_LOG(kInfo, L"[PALISK] ShellExecute failed  [%d].", exitCode);
        PALISK_LOG(kError, L"Failed to run command \"%s\" - error = %u", commandLine.c_str(), exitCode);
        started = false;
      }
    }
  }
  if (!trusted || !started) {
    configuration.ReportInstallProgress(5, static_cast<int>(exitCode));
    configuration.ReportStatus(211, static_cast<int>(exitCode), launch.taskId.c_str());
  }
  PALISK_LOG(kInfo, L"[PALISK] exit code setup.exe [%d].", exitCode);
  return exitCode;
}

}  // namespace palisk
