// ov::StringT: a wide-character string whose buffer is fenced by guard words, so that a
// buffer overrun or a stray pointer is caught at the next use and ends the process instead
// of silently corrupting memory.
//
// The value is one pointer to the first character (null for the empty string). It points
// into a block laid out as:
//   guard 0xABCD | header pointer | guard 0xABCD | capacity UTF-16 units | 0 | guard 0xABCD
// so a block for capacity c takes 2c + 18 bytes in the 32-bit product. The header pointer is
// one pointer-sized word, so a 64-bit build's blocks take 2c + 22 (the block lives in memory
// only and never crosses to a process of the other bitness).
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/memmgr.h"

namespace ov {

constexpr uint32_t kStringGuard = 0xABCD;
constexpr uint32_t kStringInitialGrowth = 64;

struct StringHeader {
  IMemMgr* memMgr;
  uint32_t length;
  uint32_t capacity;
  uint32_t growth;
  uint8_t blockOwned;    // the block belongs to this string
  uint8_t headerOnHeap;  // the header itself was allocated with new
};

class StringT {
 public:
  StringT() = default;
  StringT(const wchar_t* text);  // NOLINT: implicit, like the texts it stands for
  // `count` -1 means up to the terminator.
  StringT(const wchar_t* text, int count);
  StringT(const StringT& other);
  StringT(StringT&& other) noexcept;
  StringT& operator=(const StringT& other);
  StringT& operator=(StringT&& other) noexcept;
  StringT& operator=(const wchar_t* text);
  ~StringT();

  StringT& Assign(const wchar_t* text, int count = -1);
  StringT& Append(const wchar_t* text, int count = -1);
  StringT& Append(const StringT& other);
  StringT& Append(wchar_t ch);
  StringT& operator+=(const StringT& other) { return Append(other); }
  StringT& operator+=(const wchar_t* text) { return Append(text); }
  StringT& operator+=(wchar_t ch) { return Append(ch); }

  // Length m must not exceed the capacity; character m becomes the terminator.
  void SetLength(uint32_t length);
  // Grows (by the growth policy) so that at least `capacity` characters fit; keeps the text.
  void Reserve(uint32_t capacity);
  // Writable buffer of at least `minCapacity` characters for APIs that fill one; follow with
  // ReleaseBuffer to set the length (-1: up to the first 0).
  wchar_t* GetBuffer(uint32_t minCapacity);
  void ReleaseBuffer(int length = -1);
  // Gives the block back; the string becomes null.
  void Clear();

  // Never null: a null string reads as "".
  const wchar_t* c_str() const;
  // The raw value: null for a string that never held a block.
  const wchar_t* Data() const { return m_chars; }
  uint32_t Length() const;
  uint32_t Capacity() const;
  bool IsEmpty() const { return Length() == 0; }
  wchar_t operator[](uint32_t index) const { return c_str()[index]; }

  bool operator==(const StringT& other) const;
  bool operator==(const wchar_t* text) const;
  bool operator!=(const StringT& other) const { return !(*this == other); }
  bool operator!=(const wchar_t* text) const { return !(*this == text); }

  // The header of a non-null string (after a guard check), else null.
  const StringHeader* Header() const;
  // Ends the process when a guard word of a non-null string is damaged.
  void CheckGuards() const;
  // Guard, header pointer and guard before the first character.
  static constexpr size_t kPrefixBytes = 8 + sizeof(void*);
  // Prefix, the characters, the terminator and the trailing guard.
  static constexpr size_t BlockSize(uint32_t capacity) { return kPrefixBytes + 2 * size_t{capacity} + 2 + 4; }

 private:
  StringHeader* HeaderUnchecked() const;
  void Grow(uint32_t needed);
  void Reallocate(uint32_t capacity, bool keepContent);
  void Destroy();

  wchar_t* m_chars = nullptr;
};

}  // namespace ov
