// Content-Length as a 64-bit number: a kit file may be larger than 4 GiB, and a length cut to
// 32 bits would make a complete body look truncated.
#pragma once

#include <cstdint>

namespace hypra {

// The value of a Content-Length header: decimal digits (blanks around them allowed), at most
// 2^63 - 1. False for anything else, which then counts as no length at all.
inline bool ParseContentLength(const wchar_t* text, uint64_t& length) {
  length = 0;
  if (text == nullptr) return false;
  while (*text == L' ' || *text == L'\t') ++text;
  if (*text < L'0' || *text > L'9') return false;
  uint64_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    const uint64_t digit = static_cast<uint64_t>(*text - L'0');
    if (value > (INT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  while (*text == L' ' || *text == L'\t') ++text;
  if (*text != 0) return false;
  length = value;
  return true;
}

}  // namespace hypra
