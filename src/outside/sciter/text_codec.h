// Text encodings at the engine's edges: resource bytes (UTF-8, UTF-16 with a BOM) and the
// script engine's strings (UTF-8, with surrogate halves written one by one, CESU-8 style).
#pragma once

#include <string>

namespace sciter_engine {

// Lenient UTF-8 (and CESU-8) to UTF-16: invalid sequences become U+FFFD and set *had_errors.
std::wstring Utf8ToWide(const char* bytes, size_t length, bool* had_errors = nullptr);
std::string WideToUtf8(const std::wstring& text);

// Page, style and script bytes to text: UTF-8 (with or without a BOM) or UTF-16 with a BOM.
std::wstring DecodeResourceText(const std::string& bytes, bool* had_errors = nullptr);

}  // namespace sciter_engine
