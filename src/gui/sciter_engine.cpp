#include "gui/sciter_engine.h"

#include "framework/plugin.h"
#include "framework/scoped_handle.h"
#include "installer/palisk/run_result_codes.h"

namespace ov {
namespace gui {
namespace {

constexpr UINT kEngineMissingExitCode = static_cast<UINT>(palisk::run_result::kEngineMissing);

// The engine's table, or null when sciter.dll or its "SciterAPI" entry is missing.
ISciterAPI* LoadEngine() {
  // Beside palisk.exe by full path: the process searches only the system folder by name.
  ScopedModule library(LoadPluginLibrary(L"sciter.dll"));
  const auto entry = GetProc<SciterAPI_ptr>(library.Get(), "SciterAPI");
  ISciterAPI* api = entry != nullptr ? entry() : nullptr;
  if (api == nullptr) return nullptr;
  // The engine stays loaded for the life of the process: windows and values use it to the end.
  library.Take();
  return api;
}

ISciterAPI* LoadedEngine() {
  // A function-local static: the first caller loads, concurrent callers wait for it.
  static ISciterAPI* const api = LoadEngine();
  return api;
}

}  // namespace

bool EngineAvailable() { return LoadedEngine() != nullptr; }

ISciterAPI* SciterApi() {
  ISciterAPI* api = LoadedEngine();
  // Visible runs check EngineAvailable before their first report; reaching this without an
  // engine is a caller that skipped the check, and nothing could be drawn or shown.
  if (api == nullptr) ExitProcess(kEngineMissingExitCode);
  return api;
}

}  // namespace gui
}  // namespace ov
