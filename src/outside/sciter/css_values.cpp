#include "css_values.h"

#include <cwctype>
#include <cstdlib>

#include "dom.h"

namespace sciter_engine {

// Removes /* comments */; an unclosed one ends the text.
std::wstring StripComments(const std::wstring& text, bool* unclosed) {
  std::wstring out;
  *unclosed = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'/' && i + 1 < text.size() && text[i + 1] == L'*') {
      const size_t end = text.find(L"*/", i + 2);
      if (end == std::wstring::npos) {
        *unclosed = true;
        break;
      }
      i = end + 1;
      out += L' ';
      continue;
    }
    out += text[i];
  }
  return out;
}

// Splits a value into words at spaces (and at commas when asked), keeping (...) and quotes
// together.
std::vector<std::wstring> SplitValue(const std::wstring& text, bool at_commas) {
  std::vector<std::wstring> words;
  std::wstring word;
  int depth = 0;
  wchar_t quote = 0;
  for (wchar_t c : text) {
    if (quote) {
      word += c;
      if (c == quote) quote = 0;
      continue;
    }
    if (c == L'"' || c == L'\'') quote = c;
    if (c == L'(') ++depth;
    if (c == L')' && depth > 0) --depth;
    const bool separator = depth == 0 && (IsHtmlSpace(c) || (at_commas && c == L','));
    if (separator) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool ParseNumber(const std::wstring& text, float* number, std::wstring* rest) {
  if (text.empty()) return false;
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  const double value = std::wcstod(begin, &end);
  if (end == begin) return false;
  // wcstod accepts "inf", "nan" and hex; CSS numbers are plain decimals.
  for (const wchar_t* p = begin; p < end; ++p) {
    if (!(std::iswdigit(*p) || *p == L'.' || *p == L'-' || *p == L'+' || *p == L'e' || *p == L'E')) {
      return false;
    }
  }
  if (value > 1e6 || value < -1e6) return false;
  *number = static_cast<float>(value);
  *rest = AsciiLower(std::wstring(end));
  return true;
}

bool ParseLength(const std::wstring& word_in, unsigned flags, Length* length) {
  const std::wstring word = AsciiLower(word_in);
  if (word == L"auto") {
    if (!(flags & kAllowAuto)) return false;
    *length = {0, Unit::kAuto};
    return true;
  }
  if (word == L"none") {
    if (!(flags & kAllowNone)) return false;
    *length = {0, Unit::kNone};
    return true;
  }
  float number;
  std::wstring unit;
  if (!ParseNumber(word, &number, &unit)) return false;
  if (number < 0 && !(flags & kAllowNegative)) return false;
  if (unit == L"px") *length = {number, Unit::kPx};
  else if (unit == L"pt") *length = {number * 96.0f / 72.0f, Unit::kPx};
  else if (unit == L"pc") *length = {number * 16.0f, Unit::kPx};
  else if (unit == L"in") *length = {number * 96.0f, Unit::kPx};
  else if (unit == L"cm") *length = {number * 96.0f / 2.54f, Unit::kPx};
  else if (unit == L"mm") *length = {number * 96.0f / 25.4f, Unit::kPx};
  else if (unit == L"em") *length = {number, Unit::kEm};
  else if (unit == L"rem") *length = {number * 16.0f, Unit::kPx};
  else if (unit == L"%" && (flags & kAllowPercent)) *length = {number, Unit::kPercent};
  else if (unit.empty() && number == 0) *length = {0, Unit::kPx};
  else return false;
  return true;
}

namespace {

struct NamedColor {
  const wchar_t* name;
  uint32_t rgb;
};
constexpr NamedColor kNamedColors[] = {
    {L"black", 0x000000},   {L"white", 0xFFFFFF},     {L"red", 0xFF0000},
    {L"green", 0x008000},   {L"blue", 0x0000FF},      {L"yellow", 0xFFFF00},
    {L"gray", 0x808080},    {L"grey", 0x808080},      {L"silver", 0xC0C0C0},
    {L"maroon", 0x800000},  {L"purple", 0x800080},    {L"fuchsia", 0xFF00FF},
    {L"magenta", 0xFF00FF}, {L"lime", 0x00FF00},      {L"olive", 0x808000},
    {L"navy", 0x000080},    {L"teal", 0x008080},      {L"aqua", 0x00FFFF},
    {L"cyan", 0x00FFFF},    {L"orange", 0xFFA500},    {L"lightgray", 0xD3D3D3},
    {L"lightgrey", 0xD3D3D3}, {L"darkgray", 0xA9A9A9}, {L"darkgrey", 0xA9A9A9},
    {L"whitesmoke", 0xF5F5F5}, {L"gainsboro", 0xDCDCDC}, {L"dimgray", 0x696969},
    {L"steelblue", 0x4682B4}, {L"dodgerblue", 0x1E90FF}, {L"darkblue", 0x00008B},
    {L"darkred", 0x8B0000},  {L"darkgreen", 0x006400}, {L"lightblue", 0xADD8E6}};

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// One rgb() / rgba() channel: 0-255 or a percentage.
bool ParseChannel(const std::wstring& word, uint8_t* channel) {
  float number;
  std::wstring unit;
  if (!ParseNumber(TrimHtmlSpace(word), &number, &unit)) return false;
  if (unit == L"%") number = number * 255.0f / 100.0f;
  else if (!unit.empty()) return false;
  if (number < 0) number = 0;
  if (number > 255) number = 255;
  *channel = static_cast<uint8_t>(number + 0.5f);
  return true;
}

}  // namespace

bool ParseColor(const std::wstring& text_in, Color* color) {
  const std::wstring text = AsciiLower(TrimHtmlSpace(text_in));
  if (text.empty()) return false;
  if (text[0] == L'#') {
    const std::wstring hex = text.substr(1);
    for (wchar_t c : hex) {
      if (HexDigit(c) < 0) return false;
    }
    auto pair = [&](size_t i) { return static_cast<uint8_t>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1])); };
    auto single = [&](size_t i) { return static_cast<uint8_t>(HexDigit(hex[i]) * 17); };
    if (hex.size() == 3 || hex.size() == 4) {
      *color = {single(0), single(1), single(2), hex.size() == 4 ? single(3) : uint8_t(255)};
      return true;
    }
    if (hex.size() == 6 || hex.size() == 8) {
      *color = {pair(0), pair(2), pair(4), hex.size() == 8 ? pair(6) : uint8_t(255)};
      return true;
    }
    return false;
  }
  if (text == L"transparent") {
    *color = {0, 0, 0, 0};
    return true;
  }
  if (text.compare(0, 4, L"rgb(") == 0 || text.compare(0, 5, L"rgba(") == 0) {
    const size_t open = text.find(L'(');
    if (text.back() != L')') return false;
    std::wstring inside = text.substr(open + 1, text.size() - open - 2);
    for (wchar_t& c : inside) {
      if (c == L'/') c = L',';
    }
    std::vector<std::wstring> parts;
    if (inside.find(L',') != std::wstring::npos) {
      std::wstring part;
      for (wchar_t c : inside) {
        if (c == L',') {
          parts.push_back(part);
          part.clear();
        } else {
          part += c;
        }
      }
      parts.push_back(part);
    } else {
      parts = SplitValue(inside, false);
    }
    if (parts.size() != 3 && parts.size() != 4) return false;
    Color parsed;
    if (!ParseChannel(parts[0], &parsed.r) || !ParseChannel(parts[1], &parsed.g) ||
        !ParseChannel(parts[2], &parsed.b)) {
      return false;
    }
    parsed.a = 255;
    if (parts.size() == 4) {
      float alpha;
      std::wstring unit;
      if (!ParseNumber(TrimHtmlSpace(parts[3]), &alpha, &unit)) return false;
      if (unit == L"%") alpha /= 100.0f;
      else if (!unit.empty()) return false;
      if (alpha < 0) alpha = 0;
      if (alpha > 1) alpha = 1;
      parsed.a = static_cast<uint8_t>(alpha * 255.0f + 0.5f);
    }
    *color = parsed;
    return true;
  }
  for (const NamedColor& named : kNamedColors) {
    if (text == named.name) {
      *color = {static_cast<uint8_t>(named.rgb >> 16), static_cast<uint8_t>(named.rgb >> 8),
                static_cast<uint8_t>(named.rgb), 255};
      return true;
    }
  }
  return false;
}

namespace {

bool Substitute(const std::wstring& text, const std::map<std::wstring, std::wstring>& custom, int depth,
                std::wstring* out) {
  if (depth > 8) return false;  // var() in fallbacks in fallbacks...
  size_t at = 0;
  for (;;) {
    const size_t start = AsciiLower(text).find(L"var(", at);
    if (start == std::wstring::npos) break;
    *out += text.substr(at, start - at);
    int nesting = 0;
    size_t close = std::wstring::npos, comma = std::wstring::npos;
    for (size_t k = start + 4; k < text.size(); ++k) {
      if (text[k] == L'(') ++nesting;
      if (text[k] == L')' && nesting-- == 0) {
        close = k;
        break;
      }
      if (text[k] == L',' && nesting == 0 && comma == std::wstring::npos) comma = k;
    }
    if (close == std::wstring::npos) return false;
    const size_t name_end = comma == std::wstring::npos ? close : comma;
    const std::wstring name = AsciiLower(TrimHtmlSpace(text.substr(start + 4, name_end - start - 4)));
    auto found = custom.find(name);
    if (found != custom.end()) {
      *out += found->second;
    } else if (comma != std::wstring::npos) {
      if (!Substitute(TrimHtmlSpace(text.substr(comma + 1, close - comma - 1)), custom, depth + 1, out)) return false;
    } else {
      return false;
    }
    at = close + 1;
  }
  *out += text.substr(at);
  return true;
}

}  // namespace

bool SubstituteVariables(const std::wstring& text, const std::map<std::wstring, std::wstring>& custom,
                         std::wstring* out) {
  out->clear();
  return Substitute(text, custom, 0, out);
}

}  // namespace sciter_engine
