#include "css.h"

#include "dom.h"

namespace sciter_engine {

StyleSheet ParseStyleSheet(const std::wstring& text, const std::wstring& source_name,
                           const DiagnosticSink& sink) {
  StyleSheet sheet;
  bool unclosed = false;
  const std::wstring css = StripComments(text, &unclosed);
  if (unclosed) Report(sink, OT_CSS, OS_WARNING, source_name + L": comment is not closed");
  size_t i = 0;
  int line = 1;
  auto line_at = [&](size_t upto) {
    for (size_t k = i; k < upto && k < css.size(); ++k) {
      if (css[k] == L'\n') ++line;
    }
  };
  auto where = [&]() { return source_name + L"(" + std::to_wstring(line) + L")"; };
  // Finds the brace that closes the block opened at `open`.
  auto block_end = [&](size_t open) {
    int depth = 0;
    for (size_t k = open; k < css.size(); ++k) {
      if (css[k] == L'{') ++depth;
      if (css[k] == L'}' && --depth == 0) return k;
    }
    return std::wstring::npos;
  };
  while (i < css.size()) {
    while (i < css.size() && (IsHtmlSpace(css[i]) || css[i] == L';')) {
      if (css[i] == L'\n') ++line;
      ++i;
    }
    if (i >= css.size()) break;
    if (css[i] == L'}') {
      Report(sink, OT_CSS, OS_WARNING, where() + L": stray '}'");
      ++i;
      continue;
    }
    const size_t open = css.find(L'{', i);
    const size_t semicolon = css.find(L';', i);
    if (css[i] == L'@' && (semicolon < open)) {
      // @import, @charset: nothing is imported.
      Report(sink, OT_CSS, OS_WARNING, where() + L": " + TrimHtmlSpace(css.substr(i, semicolon - i)) + L" ignored");
      line_at(semicolon + 1);
      i = semicolon + 1;
      continue;
    }
    if (open == std::wstring::npos) {
      Report(sink, OT_CSS, OS_ERROR, where() + L": '" + TrimHtmlSpace(css.substr(i, 40)) + L"' has no block; the rest is ignored");
      break;
    }
    const size_t close = block_end(open);
    const std::wstring prelude = TrimHtmlSpace(css.substr(i, open - i));
    const std::wstring body = css.substr(open + 1, (close == std::wstring::npos ? css.size() : close) - open - 1);
    const std::wstring rule_where = where();
    if (close == std::wstring::npos) {
      Report(sink, OT_CSS, OS_WARNING, rule_where + L": block is not closed");
    }
    if (!prelude.empty() && prelude[0] == L'@') {
      const std::wstring at_rule = AsciiLower(prelude);
      if (at_rule.compare(0, 6, L"@media") == 0 &&
          (at_rule.find(L"screen") != std::wstring::npos || at_rule.find(L"all") != std::wstring::npos)) {
        StyleSheet inner = ParseStyleSheet(body, source_name, sink);
        for (Rule& rule : inner.rules) sheet.rules.push_back(std::move(rule));
      } else {
        Report(sink, OT_CSS, OS_INFO, rule_where + L": " + prelude + L" block skipped");
      }
    } else {
      Rule rule;
      std::wstring error;
      if (!ParseSelectorList(prelude, &rule.selectors, &error)) {
        Report(sink, OT_CSS, OS_WARNING, rule_where + L": selector '" + prelude + L"' dropped: " + error);
      } else {
        ParseDeclarationBlock(body, rule_where, sink, &rule.declarations);
        sheet.rules.push_back(std::move(rule));
      }
    }
    if (close == std::wstring::npos) break;
    line_at(close + 1);
    i = close + 1;
  }
  return sheet;
}

}  // namespace sciter_engine
