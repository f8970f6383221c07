// Helpers of the sciter stand-in's tests: the test pages, recorded diagnostics.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "outside/sciter/diagnostics.h"

namespace sciter_testing {

// build\tests\bin\sciter_pages (a copy of tests\sciter\pages).
std::wstring PagesFolder();
std::wstring PagePath(const std::wstring& name);
std::wstring PageUrl(const std::wstring& name);

struct Diagnostic {
  UINT subsystem;
  UINT severity;
  std::wstring text;
};

// Collects what the engine reports.
class DiagnosticRecorder {
 public:
  sciter_engine::DiagnosticSink Sink();
  const std::vector<Diagnostic>& all() const { return all_; }
  // How many reports of `subsystem` have at least `severity`.
  size_t Count(UINT subsystem, UINT min_severity) const;
  // True when some report of `subsystem` contains `fragment`.
  bool Contains(UINT subsystem, const std::wstring& fragment) const;
  std::wstring Dump() const;
  void Clear() { all_.clear(); }

 private:
  std::vector<Diagnostic> all_;
};

}  // namespace sciter_testing
