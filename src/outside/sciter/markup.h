// The HTML parser: page text to a document tree. It is forgiving as browsers are (unclosed
// and stray tags are recovered) and says what it recovered through the diagnostics (OT_DOM).
#pragma once

#include <string>

#include "diagnostics.h"
#include "dom.h"

namespace sciter_engine {

// Fills `document` (which must be empty) from `html`. `source_name` names the page in
// diagnostics. The result always has an <html> root with a <body>.
void ParseHtml(const std::wstring& html, const std::wstring& source_name, Document* document,
               const DiagnosticSink& sink);

// Text with character references (&amp; &#NN; &#xHH; ...) replaced. Unknown references stay as
// written; `unknown` (when given) receives the first of them.
std::wstring DecodeEntities(const std::wstring& text, std::wstring* unknown = nullptr);

}  // namespace sciter_engine
