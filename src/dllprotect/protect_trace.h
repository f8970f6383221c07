// "[DLLPROTECT] :: " lines of the debug trace; a call costs one test while tracing is off.
#pragma once

#include "logging/debug_trace.h"

namespace dllprotect {

template <typename... Args>
void Trace(const wchar_t* format, Args... args) {
  if (*dbgtrace::DbgTraceLevel() != 0) dbgtrace::Tracer::Instance().WriteWide(0, L"[DLLPROTECT] :: ", format, args...);
}

template <typename... Args>
void TraceA(const char* format, Args... args) {
  if (*dbgtrace::DbgTraceLevel() != 0) dbgtrace::Tracer::Instance().Write(0, "[DLLPROTECT] :: ", format, args...);
}

}  // namespace dllprotect
