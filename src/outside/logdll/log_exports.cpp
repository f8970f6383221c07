// log.dll stand-in: the entries the log binding resolves. Caller-cleans (cdecl) C exports.
#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "framework/module_path.h"
#include "outside/logdll/log_writer.h"

#define LOG_EXPORT extern "C" __declspec(dllexport)

using logdll::Writer;

LOG_EXPORT int LogInit() {
  Writer().Init(ov::FolderOf(ov::ModuleFilePath(ov::ThisModule())));
  return 0;
}

LOG_EXPORT int LogDeinit() {
  Writer().Deinit();
  return 0;
}

LOG_EXPORT int LogWrite(int indentChange, const uint32_t* level, HMODULE module,
                        const wchar_t* scope, const wchar_t* format, va_list args) {
  return Writer().Write(indentChange, level != nullptr ? *level : 16, module, scope, format, args);
}

LOG_EXPORT int LogEnable(int enable) {
  Writer().SetEnabled(enable != 0);
  return 0;
}

LOG_EXPORT int LogIsEnabled() { return Writer().Enabled() ? 1 : 0; }

LOG_EXPORT int LogSetLevel(const uint32_t* level) {
  if (level == nullptr) return E_INVALIDARG;
  Writer().SetMaxLevel(*level);
  return 0;
}

LOG_EXPORT int LogGetLevel(uint32_t* level) {
  if (level == nullptr) return E_INVALIDARG;
  *level = Writer().MaxLevel();
  return 0;
}

LOG_EXPORT int LogSetPath(const wchar_t* folder) {
  if (folder == nullptr) return E_INVALIDARG;
  Writer().SetFolder(folder);
  return 0;
}

// Settings beyond the folder, the level and the switch have no meaning in this stand-in;
// the entries exist so that the binding resolves what the real library offers.
LOG_EXPORT int LogApplySettings() { return 0; }
LOG_EXPORT int LogSetSettingsFile(const wchar_t*) { return 0; }
LOG_EXPORT int LogSetType(int) { return 0; }
LOG_EXPORT int LogSetMode(int) { return 0; }
LOG_EXPORT int LogSetMaxSize(uint32_t) { return 0; }
LOG_EXPORT int LogSetDepth(int) { return 0; }
LOG_EXPORT int LogMonitorSettings(int) { return 0; }
LOG_EXPORT int LogUninitDeskMetrics() { return 0; }
LOG_EXPORT int LogTrackEvent(const wchar_t*) { return 0; }
LOG_EXPORT int LogTrackEventData(const wchar_t*, const wchar_t*) { return 0; }
LOG_EXPORT int LogRemoveModule(const char*) { return 0; }
