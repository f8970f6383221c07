#include "inline_style.h"

#include <utility>
#include <vector>

#include "dom.h"

namespace sciter_engine {

std::wstring CssNameFromCamelCase(const std::wstring& name) {
  std::wstring css;
  for (wchar_t c : name) {
    if (c >= L'A' && c <= L'Z') {
      css += L'-';
      css += static_cast<wchar_t>(c - L'A' + L'a');
    } else {
      css += c;
    }
  }
  return css;
}

namespace {

std::vector<std::pair<std::wstring, std::wstring>> SplitInlineStyle(const std::wstring& text) {
  std::vector<std::pair<std::wstring, std::wstring>> items;
  std::wstring item;
  auto flush = [&]() {
    const size_t colon = item.find(L':');
    if (colon != std::wstring::npos) {
      items.push_back({AsciiLower(TrimHtmlSpace(item.substr(0, colon))), TrimHtmlSpace(item.substr(colon + 1))});
    }
    item.clear();
  };
  int depth = 0;
  for (wchar_t c : text) {
    if (c == L'(') ++depth;
    if (c == L')' && depth > 0) --depth;
    if (c == L';' && depth == 0) flush();
    else item += c;
  }
  flush();
  return items;
}

}  // namespace

std::wstring SetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name_in,
                                    const std::wstring& value) {
  const std::wstring name = AsciiLower(name_in);
  auto items = SplitInlineStyle(style_text);
  bool replaced = false;
  for (auto it = items.begin(); it != items.end();) {
    if (it->first == name) {
      if (value.empty() || replaced) {
        it = items.erase(it);
        continue;
      }
      it->second = value;
      replaced = true;
    }
    ++it;
  }
  if (!replaced && !value.empty()) items.push_back({name, value});
  std::wstring out;
  for (const auto& item : items) out += item.first + L": " + item.second + L"; ";
  return TrimHtmlSpace(out);
}

std::wstring GetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name) {
  std::wstring found;
  for (const auto& item : SplitInlineStyle(style_text)) {
    if (item.first == AsciiLower(name)) found = item.second;
  }
  return found;
}

}  // namespace sciter_engine
