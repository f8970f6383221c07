// Editing of style="" text for script (element.style.X): one property set, removed or read
// back, keeping the others as they were.
#pragma once

#include <string>

namespace sciter_engine {

// A CSS name in script spelling ("backgroundColor") as CSS writes it ("background-color").
std::wstring CssNameFromCamelCase(const std::wstring& name);
// style="" text with one property set (an empty value removes it) or read back.
std::wstring SetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name,
                                    const std::wstring& value);
std::wstring GetInlineStyleProperty(const std::wstring& style_text, const std::wstring& name);

}  // namespace sciter_engine
