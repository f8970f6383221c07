// The binding to log.dll, the text logging library loaded at run time (never linked), and the
// message sites and call traces written through it. When log.dll is absent every write does
// nothing. One binding per module, shared through SharedInstance: it exists while a handle
// holds it.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "framework/shared_instance.h"

namespace logging {

// Levels as log.dll receives them.
constexpr uint32_t kLevelError = 4;
constexpr uint32_t kLevelPluginError = 8;
constexpr uint32_t kLevelInfo = 16;
constexpr uint32_t kLevelTrace = 32;

constexpr int kWriteStubResult = static_cast<int>(0x80004002);  // E_NOINTERFACE

extern "C" {
typedef int (*LogInitFn)();
typedef int (*LogWriteFn)(int indentChange, const uint32_t* level, HMODULE module,
                          const wchar_t* scope, const wchar_t* format, va_list args);
typedef int (*LogDeinitFn)();
typedef int (*LogUninitDeskMetricsFn)();
typedef int (*LogRemoveModuleFn)(const char* caller);
typedef void (*LogEntryFn)();  // entries resolved and kept but never called
}

class CLogDLL {
 public:
  CLogDLL();
  ~CLogDLL();
  CLogDLL(const CLogDLL&) = delete;
  CLogDLL& operator=(const CLogDLL&) = delete;

  int Write(int indentChange, uint32_t level, const wchar_t* scope, const wchar_t* format, ...);
  int WriteV(int indentChange, uint32_t level, const wchar_t* scope, const wchar_t* format,
             va_list args);

  // For diagnostics and tests.
  HMODULE Module() const { return m_module; }
  bool WriteIsStub() const;
  // How many of the 17 optional entries (all but LogWrite's stub) were found.
  int ResolvedEntryCount() const;

 private:
  HMODULE m_module = nullptr;
  LogEntryFn m_applySettings = nullptr;
  LogEntryFn m_setSettingsFile = nullptr;
  LogEntryFn m_enable = nullptr;
  LogEntryFn m_setLevel = nullptr;
  LogEntryFn m_setPath = nullptr;
  LogEntryFn m_setType = nullptr;
  LogEntryFn m_setMode = nullptr;
  LogEntryFn m_setMaxSize = nullptr;
  LogEntryFn m_setDepth = nullptr;
  LogWriteFn m_write = nullptr;
  LogEntryFn m_isEnabled = nullptr;
  LogEntryFn m_monitorSettings = nullptr;
  LogUninitDeskMetricsFn m_uninitDeskMetrics = nullptr;
  LogEntryFn m_trackEvent = nullptr;
  LogEntryFn m_trackEventData = nullptr;
  LogRemoveModuleFn m_removeModule = nullptr;
  LogEntryFn m_getLevel = nullptr;
};

using LogHandle = ov::SharedHandle<CLogDLL>;

// True while some handle holds the binding.
bool IsBound();

// An ordinary message: dropped when no handle holds the binding, else written with indent 0.
void LogMessage(uint32_t level, const wchar_t* scope, const wchar_t* format, ...);

// Writes "-> name()" when built and "<- name() [elapsed ms]" when destroyed, at level 32.
// It always takes a handle: without a binding its lines load and unload log.dll.
class CallTrace {
 public:
  explicit CallTrace(const wchar_t* scope);
  ~CallTrace();
  CallTrace(const CallTrace&) = delete;
  CallTrace& operator=(const CallTrace&) = delete;

  const wchar_t* DisplayText() const { return m_display; }
  const wchar_t* Scope() const { return m_scope; }

  using Clock = DWORD (*)();
  // Tests replace timeGetTime to cross a wrap of the millisecond counter; null restores it.
  static void SetClockForTesting(Clock clock);

 private:
  DWORD m_start;
  wchar_t m_display[260];
  wchar_t m_scope[260];
};

}  // namespace logging
