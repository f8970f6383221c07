// Forwarding stubs as Wine and Windows build them in both instruction sets (recorded bytes),
// and functions that merely start like one.
#include "outside/detours/stub_follower.h"

#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

namespace {

using detours::DecodeStubJump;
using detours::StubJump;
using Kind = detours::StubJump::Kind;

StubJump Decode(std::initializer_list<uint8_t> bytes, uintptr_t at, bool x64) {
  std::vector<uint8_t> code(bytes);
  code.resize(code.size() + 48, 0xCC);
  return DecodeStubJump(code.data(), at, x64);
}

TEST(StubFollower, X86StubsOfWineAndWindows) {
  // Wine i386 kernel32 (and 32-bit Windows 8-11 kernel32): mov edi,edi; push ebp; mov ebp,esp;
  // pop ebp; jmp [abs32].
  StubJump jump = Decode({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x5d, 0xff, 0x25, 0x78, 0x56, 0x34, 0x12}, 0x7b401000, false);
  EXPECT_EQ(Kind::kThroughSlot, jump.kind);
  EXPECT_EQ(0x12345678u, jump.address);
  // A bare import thunk: jmp [abs32].
  jump = Decode({0xff, 0x25, 0x00, 0x20, 0x40, 0x00}, 0x401000, false);
  EXPECT_EQ(Kind::kThroughSlot, jump.kind);
  EXPECT_EQ(0x402000u, jump.address);
  // The hot-patch pad in front of jmp rel32, backwards, wrapping within 32 bits.
  jump = Decode({0x8b, 0xff, 0xe9, 0xf0, 0xff, 0xff, 0xff}, 0x1000, false);
  EXPECT_EQ(Kind::kDirect, jump.kind);
  EXPECT_EQ(0x1000u + 7 - 0x10, jump.address);
  jump = Decode({0xe9, 0x00, 0x00, 0x00, 0x80}, 0x1000, false);
  EXPECT_EQ(0x80001005u, jump.address) << "32-bit addresses only";
}

TEST(StubFollower, X64StubsOfWineAndWindows) {
  // Wine x64 kernel32: lea rsp,[rsp+0]; jmp [rip+disp32]. (Addresses below 4 GB, so that an
  // i686 build decodes them too.)
  StubJump jump = Decode({0x48, 0x8d, 0xa4, 0x24, 0, 0, 0, 0, 0xff, 0x25, 0x10, 0x00, 0x00, 0x00}, 0x40001000, true);
  EXPECT_EQ(Kind::kThroughSlot, jump.kind);
  EXPECT_EQ(0x40001000u + 14 + 0x10, jump.address);
  // Windows x64 kernel32: rex.w jmp [rip+disp32], backwards.
  jump = Decode({0x48, 0xff, 0x25, 0xf9, 0xff, 0xff, 0xff}, 0x7ff01000, true);
  EXPECT_EQ(Kind::kThroughSlot, jump.kind);
  EXPECT_EQ(0x7ff01000u, jump.address);
  // xchg ax,ax; jmp rel32.
  jump = Decode({0x66, 0x90, 0xe9, 0x00, 0x01, 0x00, 0x00}, 0x40001000, true);
  EXPECT_EQ(Kind::kDirect, jump.kind);
  EXPECT_EQ(0x40001000u + 7 + 0x100, jump.address);
}

TEST(StubFollower, FunctionsThatOnlyStartLikeAStubAreNotFollowed) {
  // Wine i386 kernelbase LoadLibraryExW: the pads, then lea ecx,[esp+4] -- real code.
  EXPECT_EQ(Kind::kNone, Decode({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x5d, 0x8d, 0x4c, 0x24, 0x04}, 0x1000, false).kind);
  // Windows 7 kernel32: mov edi,edi; push ebp; mov ebp,esp; push ecx.
  EXPECT_EQ(Kind::kNone, Decode({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x51, 0x56}, 0x1000, false).kind);
  // Windows x64 kernelbase: mov [rsp+8],rbx.
  EXPECT_EQ(Kind::kNone, Decode({0x48, 0x89, 0x5c, 0x24, 0x08}, 0x1000, true).kind);
  // "mov edi,edi" means something else in 64-bit code.
  EXPECT_EQ(Kind::kNone, Decode({0x8b, 0xff, 0xff, 0x25, 0, 0, 0, 0}, 0x1000, true).kind);
  // lea rsp,[rsp+8] moves the stack: not a pad.
  EXPECT_EQ(Kind::kNone, Decode({0x48, 0x8d, 0xa4, 0x24, 8, 0, 0, 0, 0xff, 0x25, 0, 0, 0, 0}, 0x1000, true).kind);
}

}  // namespace
