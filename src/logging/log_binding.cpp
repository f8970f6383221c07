#include "logging/log_binding.h"

#include <mmsystem.h>

#include <cwchar>
#include <memory>

#include "framework/module_path.h"
#include "framework/scoped_handle.h"

namespace logging {
namespace {

int LogWriteStub(int, const uint32_t*, HMODULE, const wchar_t*, const wchar_t*, va_list) {
  return kWriteStubResult;
}

CallTrace::Clock g_clock = nullptr;

DWORD Now() { return g_clock != nullptr ? g_clock() : timeGetTime(); }

// Copies at most `limit` characters of `source` into `target` and terminates it.
void CopyTruncated(wchar_t* target, const wchar_t* source, size_t limit) {
  size_t n = 0;
  if (source != nullptr) {
    while (n < limit && source[n] != 0) {
      target[n] = source[n];
      ++n;
    }
  }
  target[n] = 0;
}

}  // namespace

CLogDLL::CLogDLL() {
  // A log.dll already in the process wins, wherever it lies; this takes a reference.
  if (!GetModuleHandleExW(0, L"log.dll", &m_module)) m_module = nullptr;
  if (m_module == nullptr) {
    // Otherwise only the log.dll beside the module that holds this code.
    std::unique_ptr<wchar_t[]> path(new wchar_t[32767]);
    const DWORD n = GetModuleFileNameW(ov::ThisModule(), path.get(), 32767);
    if (n > 0 && n < 32767 - 9) {
      wchar_t* slash = std::wcsrchr(path.get(), L'\\');
      if (slash != nullptr) {
        wcscpy(slash, L"\\log.dll");
        m_module = LoadLibraryW(path.get());
      }
    }
  }
  if (m_module == nullptr) {
    m_write = &LogWriteStub;
    return;
  }

  if (auto init = ov::GetProc<LogInitFn>(m_module, "LogInit")) init();

  m_applySettings = ov::GetProc<LogEntryFn>(m_module, "LogApplySettings");
  m_setSettingsFile = ov::GetProc<LogEntryFn>(m_module, "LogSetSettingsFile");
  m_enable = ov::GetProc<LogEntryFn>(m_module, "LogEnable");
  m_setLevel = ov::GetProc<LogEntryFn>(m_module, "LogSetLevel");
  m_setPath = ov::GetProc<LogEntryFn>(m_module, "LogSetPath");
  m_setType = ov::GetProc<LogEntryFn>(m_module, "LogSetType");
  m_setMode = ov::GetProc<LogEntryFn>(m_module, "LogSetMode");
  m_setMaxSize = ov::GetProc<LogEntryFn>(m_module, "LogSetMaxSize");
  m_setDepth = ov::GetProc<LogEntryFn>(m_module, "LogSetDepth");
  m_write = ov::GetProc<LogWriteFn>(m_module, "LogWrite");
  m_isEnabled = ov::GetProc<LogEntryFn>(m_module, "LogIsEnabled");
  m_monitorSettings = ov::GetProc<LogEntryFn>(m_module, "LogMonitorSettings");
  m_getLevel = ov::GetProc<LogEntryFn>(m_module, "LogGetLevel");
  m_uninitDeskMetrics = ov::GetProc<LogUninitDeskMetricsFn>(m_module, "LogUninitDeskMetrics");
  m_trackEvent = ov::GetProc<LogEntryFn>(m_module, "LogTrackEvent");
  m_trackEventData = ov::GetProc<LogEntryFn>(m_module, "LogTrackEventData");
  m_removeModule = ov::GetProc<LogRemoveModuleFn>(m_module, "LogRemoveModule");
  if (m_write == nullptr) m_write = &LogWriteStub;
}

CLogDLL::~CLogDLL() {
  if (m_module == nullptr) return;
  if (auto deinit = ov::GetProc<LogDeinitFn>(m_module, "LogDeinit")) deinit();
  if (m_uninitDeskMetrics != nullptr) m_uninitDeskMetrics();
  if (m_removeModule != nullptr) m_removeModule("logging::CLogDLL::~CLogDLL");
  FreeLibrary(m_module);
}

bool CLogDLL::WriteIsStub() const { return m_write == &LogWriteStub; }

int CLogDLL::ResolvedEntryCount() const {
  const void* entries[] = {
      reinterpret_cast<void*>(m_applySettings), reinterpret_cast<void*>(m_setSettingsFile),
      reinterpret_cast<void*>(m_enable),        reinterpret_cast<void*>(m_setLevel),
      reinterpret_cast<void*>(m_setPath),       reinterpret_cast<void*>(m_setType),
      reinterpret_cast<void*>(m_setMode),       reinterpret_cast<void*>(m_setMaxSize),
      reinterpret_cast<void*>(m_setDepth),      reinterpret_cast<void*>(m_isEnabled),
      reinterpret_cast<void*>(m_monitorSettings), reinterpret_cast<void*>(m_uninitDeskMetrics),
      reinterpret_cast<void*>(m_trackEvent),    reinterpret_cast<void*>(m_trackEventData),
      reinterpret_cast<void*>(m_removeModule),  reinterpret_cast<void*>(m_getLevel),
      WriteIsStub() ? nullptr : reinterpret_cast<void*>(m_write)};
  int count = 0;
  for (const void* entry : entries) count += entry != nullptr ? 1 : 0;
  return count;
}

int CLogDLL::WriteV(int indentChange, uint32_t level, const wchar_t* scope,
                    const wchar_t* format, va_list args) {
  return m_write(indentChange, &level, ov::ThisModule(), scope, format, args);
}

int CLogDLL::Write(int indentChange, uint32_t level, const wchar_t* scope, const wchar_t* format,
                   ...) {
  va_list args;
  va_start(args, format);
  const int result = WriteV(indentChange, level, scope, format, args);
  va_end(args);
  return result;
}

bool IsBound() { return ov::SharedInstance<CLogDLL>::Holder().UseCount() > 0; }

void LogMessage(uint32_t level, const wchar_t* scope, const wchar_t* format, ...) {
  // Ordinary messages never build the binding: without a holder they are dropped.
  if (!IsBound()) return;
  LogHandle handle;
  va_list args;
  va_start(args, format);
  handle->WriteV(0, level, scope, format, args);
  va_end(args);
}

CallTrace::CallTrace(const wchar_t* scope) : m_start(Now()) {
  CopyTruncated(m_display, scope, 257);
  wcscat(m_display, L"()");
  CopyTruncated(m_scope, scope, 259);
  LogHandle handle;
  handle->Write(+1, kLevelTrace, m_scope, L"-> %s", m_display);
}

CallTrace::~CallTrace() {
  const DWORD elapsed = Now() - m_start;  // unsigned difference: right across a wrap
  LogHandle handle;
  handle->Write(-1, kLevelTrace, m_scope, L"<- %s [%d]", m_display, static_cast<int>(elapsed));
}

void CallTrace::SetClockForTesting(Clock clock) { g_clock = clock; }

}  // namespace logging
