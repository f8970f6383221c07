// Lengths of x86 and x64 instructions, as far as function prologues need them, and where an
// instruction holds an operand relative to its own address (branches, RIP-relative data),
// which a copy elsewhere must relocate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace detours {

// The instruction set of this process's own code.
#ifdef _WIN64
constexpr bool kProcessIsX64 = true;
#else
constexpr bool kProcessIsX64 = false;
#endif

struct Instruction {
  enum class Relative { kNone, kBranch8, kBranch32, kRipData32 };
  size_t length = 0;  // 0: an instruction this decoder does not know
  Relative relative = Relative::kNone;
  size_t displacementAt = 0;  // offset of the rel8, rel32 or disp32 inside the instruction
  bool endsFlow = false;      // ret or an unconditional jump: what follows is not reached from here
};

// Decodes the instruction at `code` (at most 15 bytes are read) for 32-bit or 64-bit code.
Instruction DecodeInstruction(const uint8_t* code, bool x64);

}  // namespace detours
