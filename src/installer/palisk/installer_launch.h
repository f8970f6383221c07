// After the download: the kit's installer is checked (publisher signature), started with the
// kit's and the launch's parameters, elevated when Windows asks for it, and its exit code
// becomes the run's result; the result file and the hardware id value.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "installer/palisk/launch_parameters.h"

class CProductConfig;

namespace palisk {

// The installer's parameter text: the kit parameters, then runParams or " /silent" and
// " taskId=" with the id in double quotes (encoded as the kit URL is, so that no id can add
// switches), then " /onlyCheckPrerequisites".
std::wstring InstallerParameters(const std::wstring& kitParameters, const LaunchParameters& launch, bool silent);

// Verifies, starts and waits for the kit's installer; its exit code, 191 when the signature
// check fails, or the launch error.
uint32_t RunPostDownloadActions(const LaunchParameters& launch, const std::wstring& workingFolder,
                                CProductConfig& configuration);

// Starts `commandLine` (file-system redirection off around the start on 64-bit Windows) and
// waits for it. True when it started and its exit code was read; `exitCode` gets its code, or
// the error of the start, the wait or the reading of the code.
bool RunProcess(const std::wstring& commandLine, const std::wstring& directory, uint32_t* exitCode);

// How the installer's end is awaited and its code read (WaitForSingleObject and
// GetExitCodeProcess); tests put in functions that fail. Null restores the system's.
struct ProcessWait {
  DWORD(WINAPI* wait)(HANDLE process, DWORD milliseconds);
  BOOL(WINAPI* exitCode)(HANDLE process, DWORD* code);
};
void SetProcessWaitForTesting(const ProcessWait* functions);

void SetHardwareId(const std::wstring& hwid);

// An empty file "<code>.ret" beside the parent's executable. Returns 0.
uint32_t WriteStatusFile(uint32_t code);
// The same for a known parent path (the testable core).
std::wstring StatusFilePath(const std::wstring& parentPath, uint32_t code);

}  // namespace palisk
