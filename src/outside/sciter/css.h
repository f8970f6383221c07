// The style sheet parser: sheets (from <style> and linked files) to rules of selectors and
// checked declarations; @media screen/all blocks are read, other at-rules are skipped with a
// diagnostic. Values live in css_values.h, declarations in css_declarations.h.
#pragma once

#include <string>
#include <vector>

#include "css_declarations.h"
#include "diagnostics.h"
#include "selectors.h"

namespace sciter_engine {

struct Rule {
  std::vector<Selector> selectors;
  std::vector<Declaration> declarations;
};

struct StyleSheet {
  std::vector<Rule> rules;
  // Where the sheet's url() references are relative to (the sheet's own file).
  std::wstring base_path;
};

StyleSheet ParseStyleSheet(const std::wstring& text, const std::wstring& source_name,
                           const DiagnosticSink& sink);

}  // namespace sciter_engine
