// How the two measures against DLL planting are switched on: environment variables named after
// a fixed prefix, or values under the executable's Image File Execution Options key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace dllprotect {

// The environment switches are this prefix followed by one of the suffixes below.
constexpr char kSwitchPrefix[] = "BDC4ADF5_0D7C_42BD_BB5B_F3E3241E1B77";
constexpr char kSanitiserOn[] = "_snSanPa";
constexpr char kSanitiserOff[] = "_snSanPa_disabled";
constexpr char kProtectionOn[] = "_snInterDll";
constexpr char kProtectionBlock[] = "_snInterDll_block";
constexpr char kProtectionNoReport[] = "_snInterDll_no_report";
constexpr char kProtectionOff[] = "_snInterDll_disabled";
constexpr wchar_t kIfeoSanitiser[] = L"snSanPa";
constexpr wchar_t kIfeoProtection[] = L"snInterDll";

// Present when the variable exists (its value is never read); an error other than "not found"
// counts as present.
bool IsSwitchSet(const char* suffix);

// The executable's file name as IFEO keys name it; 0, or 1627 when it cannot be read.
DWORD ExecutableNameForIfeo(std::wstring& name);
// A REG_DWORD value of HKLM\...\Image File Execution Options\<executable>; ERROR_INVALID_DATA
// for a value of another type, other errors as the registry gives them.
LONG ReadIfeoDword(const std::wstring& executable, const wchar_t* valueName, DWORD& value);

// Restricts the DLL search order and sets PATH to the executable's folder and the system folder,
// when switched on.
void RunPathSanitiser();

struct ProtectionDecision {
  bool start = false;
  bool blockMode = false;
  bool report = false;
  bool fromEnvironment = false;
  std::wstring reportFolder;  // %ProgramData%\48C4..., empty without the variable
  std::wstring processName;   // the executable's file name (empty when it cannot be read)
  uint32_t Options() const;
};
ProtectionDecision DecideProtection();

}  // namespace dllprotect
