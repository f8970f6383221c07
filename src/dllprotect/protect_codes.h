// The option word that drives the DLL load protection and the result codes its pieces share
// (the names are what event reports show).
#pragma once

#include <cstdint>

namespace dllprotect {

enum Option : uint32_t {
  kNoSearchPathMode = 0x01,  // leave SetSearchPathMode alone
  kCheckSignature = 0x02,    // accept an untrusted place when the file's embedded signature is valid
  kCheckBlacklist = 0x04,    // consult dllblacklist.json
  kCheckWriteAccess = 0x08,  // accept an untrusted place the user cannot write to
  kReportMode = 0x10,        // report untrusted loads and allow them
  kBlockMode = 0x20,         // refuse untrusted loads
  kExtendedReporting = 0x40, // report more: other outcomes in block mode, section-level loads
  kHookNtCreateSection = 0x80,
};

// What Palisk passes: signature acceptance with report or block mode.
constexpr uint32_t kPaliskReportOptions = kReportMode | kCheckSignature;
constexpr uint32_t kPaliskBlockOptions = kBlockMode | kCheckSignature;

enum CheckResult : int {
  kTrusted = 0,  // "SUCCESS"
  kInitDetourFailed = 1,
  kLoadFailed = 2,
  kGetPathFailed = 3,
  kGetMappedFileFailed = 4,
  kVulnerablePath = 5,
  kVulnerablePathNtCreateSection = 6,
  kInvalidSignature = 7,
  kRecursiveLoadLibrary = 8,
  kRecursiveNtCreateSection = 9,
  kDllBlocked = 10,
};

// "SUCCESS", "INIT_DETOUR_FAILED", ... "DLL_BLOCKED"; "UNKNOWN" for any other code.
const char* ResultName(int code);

}  // namespace dllprotect
