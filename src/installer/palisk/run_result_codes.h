// The codes a Palisk run can end with that the program chooses itself. The run's result becomes
// the process exit code, the "dwErrCode" registry value of silent runs and the name of the
// result file. Besides these a run hands on the kit installer's own exit code, and Windows and
// WinHTTP errors as Windows reports them (start, wait, network, files).
//
// Administrators read these in docs/administrators.md, which has one row for every code named
// here: tests/tools/test_exit_code_table.py fails when the two differ. Keep one named code per
// line, written as a literal.
#pragma once

#include <cstdint>

#include "framework/fatal.h"
#include "libheaders/downloadstatus.h"
#include "libheaders/hypra.h"

namespace palisk {
namespace run_result {

constexpr int32_t kSucceeded = 0;                 // the installer ran and ended with 0
constexpr int32_t kKitDataUnreadable = 1;         // data.xml not XML, without a file list, or a name leaving the folder
constexpr int32_t kConfigurationMissing = 3;      // ERROR_PATH_NOT_FOUND: no installer.xml, downloaded or local
constexpr int32_t kNotEnoughSpace = 8;            // ERROR_NOT_ENOUGH_MEMORY, said of the system drive
constexpr int32_t kInstallerNotTrusted = 191;     // ERROR_INVALID_EXE_SIGNATURE: the installer's publisher check
constexpr int32_t kUrlTooLong = 206;              // ERROR_FILENAME_EXCED_RANGE: a request URL over 1023 characters
constexpr int32_t kDescriptorTooLarge = 223;      // ERROR_FILE_TOO_LARGE: data.xml over the descriptor limit
constexpr int32_t kFunctionFailed = 1627;         // ERROR_FUNCTION_FAILED: no working folder, a URL without http(s)
constexpr int32_t kKitDataEmpty = 0x4005;         // E_FAIL's low word: data.xml "loaded" without a document
constexpr int32_t kEngineMissing = -1;            // a visible run without a usable sciter.dll
constexpr int32_t kCancelled = -2;                // the user confirmed Cancel on the progress screen
constexpr int32_t kKitFileNotValid = -13;         // kit.cat unusable, or a kit file failed verification
constexpr int32_t kHttpStatusBase = 100000;       // + the HTTP status of a kit file's non-2xx answer
constexpr int32_t kHttpTruncated = 100001;        // fewer body bytes than Content-Length announced
constexpr int32_t kHttpBadRequest = 100003;       // a kit file URL with no server or a bad port
constexpr uint32_t kMemoryCorrupted = 0xE04FC0DE; // the process ended on damaged memory

// The same values where other modules define them for themselves.
static_assert(kCancelled == DownloadStatus::kCancelled, "the progress screen's cancel answer");
static_assert(kMemoryCorrupted == ov::kCorruptionExceptionCode, "the framework's fatal end");
static_assert(kHttpStatusBase == kHypraHttpStatusBase && kHttpTruncated == kHypraTruncated &&
                  kHttpBadRequest == kHypraBadOptions,
              "the HTTP library's own failures");

}  // namespace run_result
}  // namespace palisk
