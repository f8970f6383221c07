// Writes the stand-in's log lines: one readable UTF-8 line per call, appended to
// "<folder>\<executable name>.log", safe from any thread and from several processes.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>

#include "outside/logdll/log_settings.h"

namespace logdll {

class LogWriter {
 public:
  LogWriter();
  ~LogWriter();

  // Counted: every LogInit has its LogDeinit; settings are read at the first.
  void Init(const std::wstring& dllFolder);
  void Deinit();

  int Write(int indentChange, uint32_t level, HMODULE module, const wchar_t* scope,
            const wchar_t* format, va_list args);

  void SetEnabled(bool enabled);
  bool Enabled();
  void SetMaxLevel(uint32_t level);
  uint32_t MaxLevel();
  void SetFolder(const std::wstring& folder);
  std::wstring LogFilePath();

 private:
  bool OpenFileLocked();
  void CloseFileLocked();

  CRITICAL_SECTION m_lock;
  int m_initCount = 0;
  LogSettings m_settings;
  HANDLE m_file = INVALID_HANDLE_VALUE;
};

LogWriter& Writer();

// "YYYY-MM-DD HH:MM:SS.mmm [pid:tid] LEVEL  module  <indent>scope: message" (no line end).
std::wstring FormatLine(const SYSTEMTIME& time, DWORD pid, DWORD tid, uint32_t level,
                        const std::wstring& module, int depth, const wchar_t* scope,
                        const std::wstring& message);

}  // namespace logdll
