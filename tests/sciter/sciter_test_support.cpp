#include "sciter/sciter_test_support.h"

#include "outside/sciter/url.h"
#include "support/test_support.h"

namespace sciter_testing {

std::wstring PagesFolder() { return testing_support::TestBinFolder() + L"\\sciter_pages"; }

std::wstring PagePath(const std::wstring& name) { return PagesFolder() + L"\\" + name; }

std::wstring PageUrl(const std::wstring& name) { return sciter_engine::PathToFileUrl(PagePath(name)); }

sciter_engine::DiagnosticSink DiagnosticRecorder::Sink() {
  return [this](UINT subsystem, UINT severity, const std::wstring& text) {
    all_.push_back({subsystem, severity, text});
  };
}

size_t DiagnosticRecorder::Count(UINT subsystem, UINT min_severity) const {
  size_t count = 0;
  for (const Diagnostic& d : all_) {
    if (d.subsystem == subsystem && d.severity >= min_severity) ++count;
  }
  return count;
}

bool DiagnosticRecorder::Contains(UINT subsystem, const std::wstring& fragment) const {
  for (const Diagnostic& d : all_) {
    if (d.subsystem == subsystem && d.text.find(fragment) != std::wstring::npos) return true;
  }
  return false;
}

std::wstring DiagnosticRecorder::Dump() const {
  std::wstring out;
  for (const Diagnostic& d : all_) {
    out += L"[" + std::to_wstring(d.subsystem) + L"/" + std::to_wstring(d.severity) + L"] " + d.text + L"\n";
  }
  return out;
}

}  // namespace sciter_testing
