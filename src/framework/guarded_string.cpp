#include "framework/guarded_string.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "framework/fatal.h"

namespace ov {
namespace {

// Offsets from the first character back to the block's start and its fields. The header
// pointer takes one pointer-sized word (4 bytes in the 32-bit product, 8 in a 64-bit build).
constexpr size_t kPrefixBytes = StringT::kPrefixBytes;
constexpr size_t kHeaderPointerOffset = 4 + sizeof(void*);  // bytes before the first character
constexpr uint32_t kLargeStep = 1024;

uint8_t* BlockStart(wchar_t* chars) { return reinterpret_cast<uint8_t*>(chars) - kPrefixBytes; }

uint32_t ReadWord(const void* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void WriteWord(void* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

StringHeader* ReadHeaderPointer(const void* at) {
  StringHeader* header;
  std::memcpy(&header, at, sizeof header);
  return header;
}

void WriteHeaderPointer(void* at, StringHeader* header) { std::memcpy(at, &header, sizeof header); }

// Where `text` lies inside [chars, chars + capacity], its offset; else -1.
ptrdiff_t OffsetInside(const wchar_t* text, const wchar_t* chars, uint32_t capacity) {
  if (chars == nullptr || text < chars || text > chars + capacity) return -1;
  return text - chars;
}

uint32_t TextLength(const wchar_t* text, int count) {
  if (text == nullptr) return 0;
  if (count < 0) return static_cast<uint32_t>(std::wcslen(text));
  return static_cast<uint32_t>(count);
}

}  // namespace

StringT::StringT(const wchar_t* text) { Assign(text); }

StringT::StringT(const wchar_t* text, int count) { Assign(text, count); }

StringT::StringT(const StringT& other) { Assign(other.c_str(), static_cast<int>(other.Length())); }

StringT::StringT(StringT&& other) noexcept : m_chars(other.m_chars) { other.m_chars = nullptr; }

StringT& StringT::operator=(const StringT& other) {
  if (this != &other) Assign(other.c_str(), static_cast<int>(other.Length()));
  return *this;
}

StringT& StringT::operator=(StringT&& other) noexcept {
  if (this != &other) {
    Destroy();
    m_chars = other.m_chars;
    other.m_chars = nullptr;
  }
  return *this;
}

StringT& StringT::operator=(const wchar_t* text) { return Assign(text); }

StringT::~StringT() { Destroy(); }

StringHeader* StringT::HeaderUnchecked() const {
  if (m_chars == nullptr) return nullptr;
  return ReadHeaderPointer(reinterpret_cast<const uint8_t*>(m_chars) - kHeaderPointerOffset);
}

void StringT::CheckGuards() const {
  StringHeader* header = HeaderUnchecked();
  if (header == nullptr) return;
  const uint8_t* chars = reinterpret_cast<const uint8_t*>(m_chars);
  if (ReadWord(chars - kPrefixBytes) != kStringGuard || ReadWord(chars - 4) != kStringGuard ||
      ReadWord(chars + 2 * (size_t{header->capacity} + 1)) != kStringGuard) {
    EndProcessOnCorruption("ov::StringT: damaged guard word");
  }
}

const StringHeader* StringT::Header() const {
  CheckGuards();
  return HeaderUnchecked();
}

const wchar_t* StringT::c_str() const {
  CheckGuards();
  return m_chars != nullptr ? m_chars : L"";
}

uint32_t StringT::Length() const {
  CheckGuards();
  StringHeader* header = HeaderUnchecked();
  return header != nullptr ? header->length : 0;
}

uint32_t StringT::Capacity() const {
  CheckGuards();
  StringHeader* header = HeaderUnchecked();
  return header != nullptr ? header->capacity : 0;
}

// The growth policy: at least the growth step; double small strings, add at least 1024
// characters to large ones.
void StringT::Grow(uint32_t needed) {
  StringHeader* header = HeaderUnchecked();
  const uint32_t capacity = header != nullptr ? header->capacity : 0;
  const uint32_t growth = header != nullptr ? header->growth : kStringInitialGrowth;
  if (capacity >= needed && capacity != 0) return;

  uint32_t extra = needed - capacity;
  if (extra < growth) extra = growth;
  uint32_t newCapacity;
  if (capacity <= 1023 && extra < capacity) {
    newCapacity = 2 * capacity;
  } else {
    if (capacity > 1023 && extra < kLargeStep) extra = kLargeStep;
    newCapacity = capacity + extra;
    if (newCapacity < capacity) EndProcessOnCorruption("ov::StringT: capacity overflow");
  }
  Reallocate(newCapacity, true);
}

void StringT::Reallocate(uint32_t capacity, bool keepContent) {
  StringHeader* header = HeaderUnchecked();
  if (header == nullptr) {
    header = new (std::nothrow) StringHeader{StringMemMgr::Instance(), 0, 0,
                                             kStringInitialGrowth, 0, 1};
    if (header == nullptr) EndProcessOnCorruption("ov::StringT: out of memory");
  }
  // The block size must not wrap around in size_t arithmetic.
  if (capacity > (SIZE_MAX - BlockSize(0)) / 2) EndProcessOnCorruption("ov::StringT: out of memory");
  const size_t newBytes = BlockSize(capacity);

  uint8_t* oldBlock = m_chars != nullptr ? BlockStart(m_chars) : nullptr;
  const size_t oldBytes = m_chars != nullptr ? BlockSize(header->capacity) : 0;
  uint8_t* block = nullptr;
  if (oldBlock != nullptr && header->blockOwned) {
    block = static_cast<uint8_t*>(header->memMgr->Reallocate(oldBlock, newBytes));
  }
  if (block == nullptr) {
    block = static_cast<uint8_t*>(header->memMgr->Allocate(newBytes));
    if (block == nullptr) EndProcessOnCorruption("ov::StringT: out of memory");
    if (oldBlock != nullptr) {
      std::memcpy(block, oldBlock, oldBytes < newBytes ? oldBytes : newBytes);
      if (header->blockOwned) header->memMgr->Free(oldBlock);
    } else {
      std::memset(block, 0, newBytes);
    }
  }

  m_chars = reinterpret_cast<wchar_t*>(block + kPrefixBytes);
  WriteWord(block, kStringGuard);
  WriteHeaderPointer(block + 4, header);
  WriteWord(block + 4 + sizeof(void*), kStringGuard);
  m_chars[capacity] = 0;
  WriteWord(block + kPrefixBytes + 2 * (size_t{capacity} + 1), kStringGuard);
  header->capacity = capacity;
  header->blockOwned = 1;
  if (keepContent) {
    if (header->length > capacity) header->length = capacity;
  } else {
    header->length = 0;
    m_chars[0] = 0;
  }
}

void StringT::Destroy() {
  if (m_chars == nullptr) return;
  CheckGuards();
  StringHeader* header = HeaderUnchecked();
  if (header->blockOwned) header->memMgr->Free(BlockStart(m_chars));
  header->memMgr->Release();
  if (header->headerOnHeap) delete header;
  m_chars = nullptr;
}

void StringT::Clear() { Destroy(); }

void StringT::SetLength(uint32_t length) {
  CheckGuards();
  StringHeader* header = HeaderUnchecked();
  if (header == nullptr) {
    if (length == 0) return;
    EndProcessOnCorruption("ov::StringT: length set above the capacity");
  }
  if (length > header->capacity) EndProcessOnCorruption("ov::StringT: length set above the capacity");
  header->length = length;
  m_chars[length] = 0;
}

void StringT::Reserve(uint32_t capacity) {
  CheckGuards();
  Grow(capacity);
}

wchar_t* StringT::GetBuffer(uint32_t minCapacity) {
  CheckGuards();
  Grow(minCapacity);
  return m_chars;
}

void StringT::ReleaseBuffer(int length) {
  CheckGuards();
  if (m_chars == nullptr) return;
  const uint32_t capacity = HeaderUnchecked()->capacity;
  uint32_t newLength;
  if (length < 0) {
    newLength = 0;
    while (newLength < capacity && m_chars[newLength] != 0) ++newLength;
  } else {
    newLength = static_cast<uint32_t>(length);
  }
  SetLength(newLength);
}

StringT& StringT::Assign(const wchar_t* text, int count) {
  CheckGuards();
  const uint32_t length = TextLength(text, count);
  if (length == 0) {
    if (m_chars != nullptr) SetLength(0);
    return *this;
  }
  // The text may live inside our own block, which growing can move.
  const ptrdiff_t offset = OffsetInside(text, m_chars, Capacity());
  Grow(length);
  const wchar_t* source = offset >= 0 ? m_chars + offset : text;
  std::memmove(m_chars, source, length * sizeof(wchar_t));
  SetLength(length);
  return *this;
}

StringT& StringT::Append(const wchar_t* text, int count) {
  CheckGuards();
  const uint32_t extra = TextLength(text, count);
  if (extra == 0) return *this;
  const uint32_t length = Length();
  if (length + extra < length) EndProcessOnCorruption("ov::StringT: length overflow");
  const ptrdiff_t offset = OffsetInside(text, m_chars, Capacity());
  Grow(length + extra);
  const wchar_t* source = offset >= 0 ? m_chars + offset : text;
  std::memmove(m_chars + length, source, extra * sizeof(wchar_t));
  SetLength(length + extra);
  return *this;
}

StringT& StringT::Append(const StringT& other) {
  return Append(other.c_str(), static_cast<int>(other.Length()));
}

StringT& StringT::Append(wchar_t ch) { return Append(&ch, 1); }

bool StringT::operator==(const StringT& other) const {
  const uint32_t length = Length();
  return length == other.Length() &&
         std::wmemcmp(c_str(), other.c_str(), length) == 0;
}

bool StringT::operator==(const wchar_t* text) const {
  const uint32_t length = Length();
  return length == TextLength(text, -1) && std::wmemcmp(c_str(), text ? text : L"", length) == 0;
}

}  // namespace ov
