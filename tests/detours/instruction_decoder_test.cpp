// The instruction-length decoder over the prologues of the functions the DLL protection hooks,
// as Wine and Windows 7 to 11 have them, in both instruction sets (whichever flavour runs).
#include "outside/detours/instruction_decoder.h"

#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

namespace {

using detours::DecodeInstruction;
using detours::Instruction;
using Relative = detours::Instruction::Relative;

// The lengths of the instructions in `code`, decoded one after the other.
std::vector<size_t> Lengths(std::initializer_list<uint8_t> bytes, bool x64) {
  std::vector<uint8_t> code(bytes);
  code.resize(code.size() + 16, 0xCC);
  std::vector<size_t> lengths;
  for (size_t at = 0; at < bytes.size();) {
    const Instruction in = DecodeInstruction(code.data() + at, x64);
    lengths.push_back(in.length);
    if (in.length == 0) break;
    at += in.length;
  }
  return lengths;
}

using L = std::vector<size_t>;

TEST(InstructionDecoder, WineX86Prologues) {
  // kernel32 stubs: mov edi,edi; push ebp; mov ebp,esp; pop ebp; jmp [abs32].
  EXPECT_EQ(L({2, 1, 2, 1, 6}), Lengths({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x5d, 0xff, 0x25, 1, 2, 3, 4}, false));
  // kernelbase LoadLibraryExW: ... lea ecx,[esp+4]; and esp,-16; push [ecx-4].
  EXPECT_EQ(L({2, 1, 2, 1, 4, 3, 3}), Lengths({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x5d, 0x8d, 0x4c, 0x24, 0x04, 0x83, 0xe4,
                                              0xf0, 0xff, 0x71, 0xfc}, false));
  // ntdll NtCreateSection: mov eax,imm32; mov edx,imm32; call edx.
  EXPECT_EQ(L({5, 5, 2}), Lengths({0xb8, 0x29, 0, 0, 0, 0xba, 1, 2, 3, 4, 0xff, 0xd2}, false));
}

TEST(InstructionDecoder, WindowsX86Prologues) {
  // Windows 7 kernel32: mov edi,edi; push ebp; mov ebp,esp; push ecx; push esi; mov esi,[ebp+8].
  EXPECT_EQ(L({2, 1, 2, 1, 1, 3}), Lengths({0x8b, 0xff, 0x55, 0x8b, 0xec, 0x51, 0x56, 0x8b, 0x75, 0x08}, false));
  // An SEH frame prologue: push imm8; push imm32; call rel32.
  EXPECT_EQ(L({2, 5, 5}), Lengths({0x6a, 0x18, 0x68, 1, 2, 3, 4, 0xe8, 1, 2, 3, 4}, false));
  // Windows 10/11 ntdll NtCreateSection: mov eax,imm32; mov edx,imm32 (Wow64SystemServiceCall); call edx; ret 1Ch.
  EXPECT_EQ(L({5, 5, 2, 3}), Lengths({0xb8, 0x4a, 0, 0, 0, 0xba, 1, 2, 3, 4, 0xff, 0xd2, 0xc2, 0x1c, 0}, false));
  // sub esp,imm32; mov eax,[abs32]; xor eax,ebp; mov [ebp-4],eax (a /GS cookie).
  EXPECT_EQ(L({6, 5, 2, 3}), Lengths({0x81, 0xec, 0x00, 0x01, 0, 0, 0xa1, 1, 2, 3, 4, 0x33, 0xc5, 0x89, 0x45, 0xfc}, false));
}

TEST(InstructionDecoder, X64Prologues) {
  // Windows 10/11 kernelbase LoadLibraryExW: mov [rsp+8],rbx; mov [rsp+10h],rbp; mov [rsp+18h],rsi;
  // push rdi; sub rsp,30h.
  EXPECT_EQ(L({5, 5, 5, 1, 4}), Lengths({0x48, 0x89, 0x5c, 0x24, 0x08, 0x48, 0x89, 0x6c, 0x24, 0x10, 0x48, 0x89, 0x74,
                                         0x24, 0x18, 0x57, 0x48, 0x83, 0xec, 0x30}, true));
  // Windows 10/11 ntdll NtCreateSection: mov r10,rcx; mov eax,imm32; test byte [7FFE0308h],1;
  // jne +3; syscall; ret.
  EXPECT_EQ(L({3, 5, 8, 2, 2, 1}), Lengths({0x4c, 0x8b, 0xd1, 0xb8, 0x4a, 0, 0, 0, 0xf6, 0x04, 0x25, 0x08, 0x03, 0xfe,
                                            0x7f, 0x01, 0x75, 0x03, 0x0f, 0x05, 0xc3}, true));
  // Windows 7 kernel32 x64 forwarders: jmp qword [rip+disp32] (REX.W as a hot-patch pad).
  EXPECT_EQ(L({7}), Lengths({0x48, 0xff, 0x25, 1, 2, 3, 4}, true));
  // Wine x64: push rbp; mov rbp,rsp; sub rsp,20h; lea rax,[rip+disp32]; mov r8d,imm32.
  EXPECT_EQ(L({1, 3, 4, 7, 6}), Lengths({0x55, 0x48, 0x89, 0xe5, 0x48, 0x83, 0xec, 0x20, 0x48, 0x8d, 0x05, 1, 2, 3, 4,
                                         0x41, 0xb8, 1, 2, 3, 4}, true));
  // mov rax,imm64; movzx eax,word [rcx]; cmovne eax,edx.
  EXPECT_EQ(L({10, 3, 3}), Lengths({0x48, 0xb8, 1, 2, 3, 4, 5, 6, 7, 8, 0x0f, 0xb7, 0x01, 0x0f, 0x45, 0xc2}, true));
}

TEST(InstructionDecoder, RelativeOperandsAreFound) {
  const uint8_t call[] = {0xe8, 1, 2, 3, 4};
  Instruction in = DecodeInstruction(call, false);
  EXPECT_EQ(Relative::kBranch32, in.relative);
  EXPECT_EQ(1u, in.displacementAt);
  EXPECT_FALSE(in.endsFlow);
  const uint8_t jcc[] = {0x0f, 0x84, 1, 2, 3, 4};
  in = DecodeInstruction(jcc, true);
  EXPECT_EQ(6u, in.length);
  EXPECT_EQ(Relative::kBranch32, in.relative);
  EXPECT_EQ(2u, in.displacementAt);
  const uint8_t shortJump[] = {0xeb, 0x10};
  in = DecodeInstruction(shortJump, true);
  EXPECT_EQ(Relative::kBranch8, in.relative);
  EXPECT_TRUE(in.endsFlow);
  const uint8_t ripLoad[] = {0x48, 0x8b, 0x05, 1, 2, 3, 4};
  in = DecodeInstruction(ripLoad, true);
  EXPECT_EQ(Relative::kRipData32, in.relative);
  EXPECT_EQ(3u, in.displacementAt);
  in = DecodeInstruction(ripLoad + 1, false);  // the same bytes in 32-bit code: an absolute address
  EXPECT_EQ(6u, in.length);
  EXPECT_EQ(Relative::kNone, in.relative);
  const uint8_t ret[] = {0xc3};
  EXPECT_TRUE(DecodeInstruction(ret, false).endsFlow);
}

TEST(InstructionDecoder, UnknownInstructionsAreRefused) {
  const uint8_t unknown[][4] = {{0x0f, 0x0a, 0, 0}, {0x67, 0x8b, 0x00, 0}, {0xf1, 0, 0, 0}, {0xc8, 1, 0, 0}};
  for (const auto& code : unknown) {
    EXPECT_EQ(0u, DecodeInstruction(code, false).length) << std::hex << int(code[0]);
    EXPECT_EQ(0u, DecodeInstruction(code, true).length) << std::hex << int(code[0]);
  }
}

}  // namespace
