// CSS value text: comments, words, numbers, lengths (absolute units folded to px), colours
// and var() substitution. The declaration parser builds its per-property checks from these.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sciter_engine {

struct Color {
  uint8_t r = 0, g = 0, b = 0, a = 0;  // straight (not premultiplied) alpha
  bool operator==(const Color& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

enum class Unit { kPx, kPercent, kEm, kAuto, kNone };

struct Length {
  float value = 0;
  Unit unit = Unit::kPx;
  bool IsAuto() const { return unit == Unit::kAuto; }
};

// Removes /* comments */; an unclosed one ends the text.
std::wstring StripComments(const std::wstring& text, bool* unclosed);
// Splits a value into words at spaces (and at commas when asked), keeping (...) and quotes
// together.
std::vector<std::wstring> SplitValue(const std::wstring& text, bool at_commas);
// A plain decimal number; `rest` gets what follows it, in lower case (the unit).
bool ParseNumber(const std::wstring& text, float* number, std::wstring* rest);

// What ParseLength accepts beyond non-negative lengths.
enum LengthFlags { kAllowPercent = 1, kAllowAuto = 2, kAllowNegative = 4, kAllowNone = 8 };
bool ParseLength(const std::wstring& word, unsigned flags, Length* length);

bool ParseColor(const std::wstring& text, Color* color);

// `text` with every var(--name[, fallback]) replaced from `custom`; false when a name is
// unknown and has no fallback.
bool SubstituteVariables(const std::wstring& text, const std::map<std::wstring, std::wstring>& custom,
                         std::wstring* out);

}  // namespace sciter_engine
