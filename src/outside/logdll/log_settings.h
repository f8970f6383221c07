// Settings of the log.dll stand-in, read from "log.ini" beside log.dll, else from
// "%ProgramData%\Palisk\log.ini". Without a settings file nothing is written.
//
//   [log]
//   enabled=1
//   folder=%ProgramData%\Palisk\Logs     (environment variables are expanded)
//   level=trace                          (error | plugin | info | trace, or a number)
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace logdll {

struct LogSettings {
  bool enabled = false;
  std::wstring folder;      // expanded, without a trailing "\"
  uint32_t maxLevel = 16;   // lines with a level value above this are dropped
  std::wstring sourceFile;  // the settings file that was read, "" when none
};

// `dllFolder`: the folder of log.dll itself.
LogSettings ReadLogSettings(const std::wstring& dllFolder);

// "error"/"plugin"/"info"/"trace" or a decimal number; `fallback` for anything else.
uint32_t ParseLevel(const std::wstring& text, uint32_t fallback);

}  // namespace logdll
