// Where the engine's pieces report problems with pages, style sheets and scripts: the window's
// debug output (or the process-wide one), as the host installed it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "sciter/sciter_api.h"

namespace sciter_engine {

// subsystem: OT_DOM, OT_CSS or OT_TIS; severity: OS_INFO, OS_WARNING or OS_ERROR.
using DiagnosticSink = std::function<void(UINT subsystem, UINT severity, const std::wstring& text)>;

// Calls `sink` when there is one; parsers get an empty sink in tests that do not look.
inline void Report(const DiagnosticSink& sink, UINT subsystem, UINT severity,
                   const std::wstring& text) {
  if (sink) sink(subsystem, severity, text);
}

}  // namespace sciter_engine
