#include "text_codec.h"

namespace sciter_engine {

namespace {

void AppendCodePoint(unsigned long code, std::wstring* out) {
  if (code >= 0x10000) {
    code -= 0x10000;
    *out += static_cast<wchar_t>(0xD800 + (code >> 10));
    *out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
  } else {
    *out += static_cast<wchar_t>(code);
  }
}

}  // namespace

std::wstring Utf8ToWide(const char* bytes, size_t length, bool* had_errors) {
  if (had_errors) *had_errors = false;
  std::wstring out;
  out.reserve(length);
  size_t i = 0;
  while (i < length) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    int size = 0;
    unsigned long code = 0;
    if (lead >= 0xC2 && lead < 0xE0) { size = 2; code = lead & 0x1F; }
    else if (lead >= 0xE0 && lead < 0xF0) { size = 3; code = lead & 0x0F; }
    else if (lead >= 0xF0 && lead < 0xF5) { size = 4; code = lead & 0x07; }
    bool valid = size > 0 && i + size <= length;
    for (int k = 1; valid && k < size; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    if (valid && ((size == 3 && code < 0x800) || (size == 4 && (code < 0x10000 || code > 0x10FFFF)))) valid = false;
    if (!valid) {
      if (had_errors) *had_errors = true;
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(code, &out);  // surrogate halves (CESU-8) pass through as themselves
    i += size;
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned long code = static_cast<unsigned short>(text[i]);
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      const unsigned long low = static_cast<unsigned short>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::wstring DecodeResourceText(const std::string& bytes, bool* had_errors) {
  if (had_errors) *had_errors = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return out;
  }
  const size_t skip = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  return Utf8ToWide(bytes.data() + skip, bytes.size() - skip, had_errors);
}

}  // namespace sciter_engine
