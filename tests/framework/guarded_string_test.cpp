// ov::StringT: block layout, growth policy, guard checks and the usual text operations.
#include "framework/guarded_string.h"

#include <windows.h>
#include <malloc.h>

#include <cstring>

#include <gtest/gtest.h>

#include "framework/fatal.h"

namespace {

using ov::StringT;

const int kCorruptionExit = static_cast<int>(ov::kCorruptionExceptionCode);

uint32_t WordAt(const void* at) {
  uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// The header pointer is one pointer-sized word: 4 bytes in the i686 product, 8 in the x64 build.
constexpr size_t kPointer = sizeof(void*);
constexpr size_t kPrefix = 4 + kPointer + 4;

uintptr_t PointerAt(const void* at) {
  uintptr_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

const uint8_t* BlockOf(const StringT& s) {
  return reinterpret_cast<const uint8_t*>(s.Data()) - kPrefix;
}

TEST(GuardedStringLayout, NullStringReadsAsEmptyAndOwnsNothing) {
  StringT s;
  EXPECT_EQ(nullptr, s.Data());
  EXPECT_STREQ(L"", s.c_str());
  EXPECT_EQ(0u, s.Length());
  EXPECT_EQ(0u, s.Capacity());
  EXPECT_EQ(nullptr, s.Header());
  StringT assignedEmpty(L"");
  EXPECT_EQ(nullptr, assignedEmpty.Data());
}

TEST(GuardedStringLayout, BlockHoldsGuardsHeaderPointerAndTerminator) {
  StringT s(L"hello");
  const ov::StringHeader* header = s.Header();
  ASSERT_NE(nullptr, header);
  const uint8_t* block = BlockOf(s);
  EXPECT_EQ(ov::kStringGuard, WordAt(block));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(header), PointerAt(block + 4));
  EXPECT_EQ(ov::kStringGuard, WordAt(block + 4 + kPointer));
  EXPECT_EQ(0, s.Data()[header->capacity]);
  EXPECT_EQ(ov::kStringGuard, WordAt(block + kPrefix + 2 * (header->capacity + 1)));
  // The whole block is exactly 2c + 18 bytes from the C runtime (2c + 22 in the x64 build).
  EXPECT_EQ(StringT::BlockSize(header->capacity), _msize(const_cast<uint8_t*>(block)));
}

TEST(GuardedStringLayout, BlockSizeIsTwiceCapacityPlusEighteen) {
#ifdef _WIN64
  EXPECT_EQ(54u, StringT::BlockSize(16));
  EXPECT_EQ(150u, StringT::BlockSize(64));
  EXPECT_EQ(22u, StringT::BlockSize(0));
#else
  EXPECT_EQ(50u, StringT::BlockSize(16));
  EXPECT_EQ(146u, StringT::BlockSize(64));
  EXPECT_EQ(18u, StringT::BlockSize(0));
#endif
}

TEST(GuardedStringLayout, NewHeaderStartsWithDefaults) {
  StringT s(L"x");
  const ov::StringHeader* header = s.Header();
  EXPECT_EQ(ov::StringMemMgr::Instance(), header->memMgr);
  EXPECT_EQ(1u, header->length);
  EXPECT_EQ(64u, header->growth);
  EXPECT_EQ(1, header->blockOwned);
  EXPECT_EQ(1, header->headerOnHeap);
}

TEST(GuardedStringGrowth, FollowsThePolicyFigures) {
  StringT s;
  s.Reserve(10);
  EXPECT_EQ(64u, s.Capacity());
  s.Reserve(64);
  EXPECT_EQ(64u, s.Capacity()) << "a capacity that already fits is kept";
  s.Reserve(70);
  EXPECT_EQ(128u, s.Capacity());
  s.Reserve(200);
  EXPECT_EQ(256u, s.Capacity()) << "small strings double when the need is less than c";
  s.Reserve(1000);
  EXPECT_EQ(1000u, s.Capacity()) << "a need beyond doubling is taken as it is";
  s.Reserve(2048);
  EXPECT_EQ(2048u, s.Capacity());
  s.Reserve(2049);
  EXPECT_EQ(3072u, s.Capacity()) << "large strings grow by at least 1024";
  s.Reserve(3072 + 5000);
  EXPECT_EQ(8072u, s.Capacity());
}

TEST(GuardedStringGrowth, KeepsContentAcrossReallocation) {
  StringT s(L"abc");
  for (int i = 0; i < 2000; ++i) s.Append(L'x');
  EXPECT_EQ(2003u, s.Length());
  EXPECT_EQ(0, std::wcsncmp(L"abcxxx", s.c_str(), 6));
  EXPECT_EQ(0, s.c_str()[2003]);
  s.CheckGuards();
}

TEST(GuardedStringText, AssignAppendCompare) {
  StringT s(L"Hello");
  s += L", ";
  s += StringT(L"world");
  s += L'!';
  EXPECT_EQ(s, L"Hello, world!");
  EXPECT_EQ(13u, s.Length());
  EXPECT_NE(s, L"Hello");
  EXPECT_EQ(StringT(L"Hello, world!"), s);

  StringT counted(L"abcdef", 3);
  EXPECT_EQ(counted, L"abc");
  StringT all(L"abcdef", -1);
  EXPECT_EQ(all, L"abcdef");

  s.Assign(L"short");
  EXPECT_EQ(s, L"short");
  s.Assign(L"");
  EXPECT_EQ(0u, s.Length());
  EXPECT_STREQ(L"", s.c_str());
}

TEST(GuardedStringText, EmbeddedZeroCountsInLengthAndComparison) {
  const wchar_t text[] = {L'a', 0, L'b'};
  StringT s(text, 3);
  EXPECT_EQ(3u, s.Length());
  EXPECT_NE(s, StringT(L"a"));
  StringT copy(s);
  EXPECT_EQ(s, copy);
}

TEST(GuardedStringText, AppendingItselfSurvivesReallocation) {
  StringT s(L"0123456789");
  for (int i = 0; i < 8; ++i) s.Append(s.c_str(), static_cast<int>(s.Length()));
  EXPECT_EQ(2560u, s.Length());
  for (uint32_t i = 0; i < s.Length(); ++i) ASSERT_EQ(L'0' + static_cast<wchar_t>(i % 10), s[i]);
  s.Assign(s.c_str() + 5, 3);
  EXPECT_EQ(s, L"567");
}

TEST(GuardedStringText, CopyAndMoveAreIndependentValues) {
  StringT a(L"first");
  StringT b(a);
  b += L"!";
  EXPECT_EQ(a, L"first");
  EXPECT_NE(a.Data(), b.Data());
  StringT c(std::move(b));
  EXPECT_EQ(nullptr, b.Data());  // NOLINT: moved-from is null by contract
  EXPECT_EQ(c, L"first!");
  a = c;
  EXPECT_EQ(a, L"first!");
  a = std::move(c);
  EXPECT_EQ(a, L"first!");
}

TEST(GuardedStringText, BufferFilledByAnApi) {
  StringT s;
  wchar_t* buffer = s.GetBuffer(MAX_PATH);
  ASSERT_GE(s.Capacity(), static_cast<uint32_t>(MAX_PATH));
  const DWORD n = GetWindowsDirectoryW(buffer, MAX_PATH);
  ASSERT_GT(n, 0u);
  s.ReleaseBuffer();
  EXPECT_EQ(n, s.Length());
  s.SetLength(2);
  EXPECT_EQ(s, L"C:");
  s.Clear();
  EXPECT_EQ(nullptr, s.Data());
}

using GuardedStringDeathTest = testing::Test;

TEST_F(GuardedStringDeathTest, DamagedTrailingGuardEndsTheProcess) {
  EXPECT_EXIT(
      {
        StringT s(L"abc");
        wchar_t* chars = const_cast<wchar_t*>(s.Data());
        chars[s.Capacity() + 1] = 0x1234;  // the guard right after the terminator
        (void)s.Length();
      },
      testing::ExitedWithCode(kCorruptionExit), "");
}

TEST_F(GuardedStringDeathTest, DamagedLeadingGuardEndsTheProcess) {
  EXPECT_EXIT(
      {
        StringT s(L"abc");
        uint8_t* block = const_cast<uint8_t*>(BlockOf(s));
        block[0] ^= 0xFF;
        s.Append(L"d");
      },
      testing::ExitedWithCode(kCorruptionExit), "");
}

TEST_F(GuardedStringDeathTest, LengthAboveCapacityEndsTheProcess) {
  EXPECT_EXIT(
      {
        StringT s(L"abc");
        s.SetLength(s.Capacity() + 1);
      },
      testing::ExitedWithCode(kCorruptionExit), "");
}

#ifndef _WIN64
TEST_F(GuardedStringDeathTest, FailedAllocationEndsTheProcess) {
  EXPECT_EXIT(
      {
        StringT s(L"abc");
        s.Reserve(0x7FFFFF00u);  // 4 GiB of characters cannot exist in a 32-bit process
      },
      testing::ExitedWithCode(kCorruptionExit), "");
}
#endif

// A memory manager with nothing to give: the same end in both flavours, where a 64-bit
// process could well find room for the largest block a 32-bit capacity can ask for.
class EmptyMemMgr : public ov::IMemMgr {
 public:
  void* Allocate(size_t) override { return nullptr; }
  void* Reallocate(void*, size_t) override { return nullptr; }
  void Free(void*) override {}
  void Release() override {}
};

TEST_F(GuardedStringDeathTest, AllocationRefusedByTheMemoryManagerEndsTheProcess) {
  EXPECT_EXIT(
      {
        static EmptyMemMgr empty;
        StringT s(L"abc");
        const_cast<ov::StringHeader*>(s.Header())->memMgr = &empty;
        s.Reserve(s.Capacity() + 1);
      },
      testing::ExitedWithCode(kCorruptionExit), "");
}

TEST(GuardedStringGuards, IntactStringPassesEveryCheck) {
  StringT s(L"abc");
  s.CheckGuards();
  s.SetLength(s.Capacity());  // the longest legal length
  s.CheckGuards();
  EXPECT_EQ(s.Capacity(), s.Length());
}

}  // namespace
