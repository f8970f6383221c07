#include "outside/detours/instruction_decoder.h"

namespace detours {
namespace {

// Length of a ModRM operand (the ModRM byte, a SIB byte, a displacement) at `modrm`; sets
// `rip` when it is RIP-relative (64-bit code, mod 0 and r/m 5) with the disp32 offset.
size_t ModRmLength(const uint8_t* modrm, bool x64, bool& rip, size_t& dispAt) {
  const uint8_t mod = modrm[0] >> 6, rm = modrm[0] & 7;
  size_t length = 1;
  rip = false;
  if (mod == 3) return length;
  if (rm == 4) {
    const uint8_t base = modrm[1] & 7;
    ++length;
    if (mod == 0 && base == 5) return length + 4;
  } else if (mod == 0 && rm == 5) {
    rip = x64;
    dispAt = length;
    return length + 4;
  }
  if (mod == 1) return length + 1;
  if (mod == 2) return length + 4;
  return length;
}

bool IsAluWithModRm(uint8_t op) { return op < 0x40 && (op & 7) < 4; }
bool IsAluWithAccumulator(uint8_t op) { return op < 0x40 && ((op & 7) == 4 || (op & 7) == 5); }

}  // namespace

Instruction DecodeInstruction(const uint8_t* code, bool x64) {
  Instruction in;
  size_t at = 0;
  bool operand16 = false, rexW = false;
  // Legacy prefixes, then (64-bit code) one REX prefix right before the opcode.
  for (;; ++at) {
    const uint8_t b = code[at];
    if (at >= 4) return in;
    if (b == 0x66) operand16 = true;
    else if (b == 0x67) return in;  // other address sizes do not occur in prologues
    else if (b == 0xF0 || b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x26 ||
             b == 0x64 || b == 0x65) {
    } else {
      break;
    }
  }
  if (x64 && (code[at] & 0xF0) == 0x40) {
    rexW = (code[at] & 0x08) != 0;
    ++at;
  }
  const size_t immediate32 = (operand16 && !rexW) ? 2 : 4;
  const uint8_t op = code[at++];
  bool rip = false;
  size_t dispAt = 0;
  auto withModRm = [&](size_t immediate) {
    const size_t modrmAt = at;
    at += ModRmLength(code + at, x64, rip, dispAt) + immediate;
    if (rip) {
      in.relative = Instruction::Relative::kRipData32;
      in.displacementAt = modrmAt + dispAt;
    }
  };

  if (IsAluWithModRm(op)) {
    withModRm(0);
  } else if (IsAluWithAccumulator(op)) {
    at += (op & 7) == 4 ? 1 : immediate32;
  } else if (!x64 && (op == 0x06 || op == 0x07 || op == 0x0E || op == 0x16 || op == 0x17 || op == 0x1E ||
                      op == 0x1F || op == 0x27 || op == 0x2F || op == 0x37 || op == 0x3F || (op >= 0x40 && op <= 0x4F) ||
                      op == 0x60 || op == 0x61)) {
  } else if (op >= 0x50 && op <= 0x5F) {
  } else if (op == 0x63 && x64) {
    withModRm(0);
  } else if (op == 0x68) {
    at += immediate32;
  } else if (op == 0x69) {
    withModRm(immediate32);
  } else if (op == 0x6A) {
    at += 1;
  } else if (op == 0x6B) {
    withModRm(1);
  } else if (op >= 0x70 && op <= 0x7F) {
    in.relative = Instruction::Relative::kBranch8;
    in.displacementAt = at;
    at += 1;
  } else if (op == 0x80 || op == 0x82 || op == 0x83 || op == 0xC0 || op == 0xC1 || op == 0xC6) {
    withModRm(1);
  } else if (op == 0x81 || op == 0xC7) {
    withModRm(immediate32);
  } else if ((op >= 0x84 && op <= 0x8F) || (op >= 0xD0 && op <= 0xD3) || (op >= 0xD8 && op <= 0xDF) ||
             op == 0xFE) {
    withModRm(0);
  } else if (op == 0xFF) {
    const uint8_t reg = (code[at] >> 3) & 7;
    withModRm(0);
    if (reg == 4 || reg == 5) in.endsFlow = true;  // jmp r/m
  } else if (op == 0xF6 || op == 0xF7) {
    const uint8_t reg = (code[at] >> 3) & 7;
    withModRm(reg <= 1 ? (op == 0xF6 ? 1 : immediate32) : 0);
  } else if ((op >= 0x90 && op <= 0x99) || op == 0x9C || op == 0x9D || op == 0xC9 || op == 0xCC || op == 0xF4 ||
             op == 0xF5 || (op >= 0xF8 && op <= 0xFD)) {
  } else if (op >= 0xA0 && op <= 0xA3) {
    at += x64 ? 8 : 4;  // mov to or from an absolute address (moffs)
  } else if (op == 0xA8 || (op >= 0xB0 && op <= 0xB7)) {
    at += 1;
  } else if (op == 0xA9) {
    at += immediate32;
  } else if (op >= 0xB8 && op <= 0xBF) {
    at += rexW ? 8 : immediate32;
  } else if (op == 0xC2) {
    at += 2;
    in.endsFlow = true;
  } else if (op == 0xC3) {
    in.endsFlow = true;
  } else if (op == 0xE8 || op == 0xE9) {
    in.relative = Instruction::Relative::kBranch32;
    in.displacementAt = at;
    at += 4;
    in.endsFlow = op == 0xE9;
  } else if (op == 0xEB) {
    in.relative = Instruction::Relative::kBranch8;
    in.displacementAt = at;
    at += 1;
    in.endsFlow = true;
  } else if (op == 0x0F) {
    const uint8_t op2 = code[at++];
    if (op2 >= 0x80 && op2 <= 0x8F) {
      in.relative = Instruction::Relative::kBranch32;
      in.displacementAt = at;
      at += 4;
    } else if (op2 == 0x05 || op2 == 0x0B || op2 == 0xA2 || (op2 >= 0xC8 && op2 <= 0xCF)) {
    } else if (op2 == 0x38) {
      ++at;
      withModRm(0);
    } else if (op2 == 0x3A) {
      ++at;
      withModRm(1);
    } else if (op2 == 0xBA || op2 == 0x70 || op2 == 0xC2 || op2 == 0xC6 || op2 == 0xA4 || op2 == 0xAC) {
      withModRm(1);
    } else if (op2 == 0x1F || (op2 >= 0x10 && op2 <= 0x17) || (op2 >= 0x28 && op2 <= 0x2F) ||
               (op2 >= 0x40 && op2 <= 0x4F) || (op2 >= 0x50 && op2 <= 0x6F) || (op2 >= 0x74 && op2 <= 0x7F) ||
               (op2 >= 0x90 && op2 <= 0x9F) || op2 == 0xA3 || op2 == 0xA5 || op2 == 0xAB || op2 == 0xAD ||
               op2 == 0xAF || op2 == 0xB0 || op2 == 0xB1 || op2 == 0xB3 || (op2 >= 0xB6 && op2 <= 0xBF) ||
               op2 == 0xC0 || op2 == 0xC1 || (op2 >= 0xD0 && op2 <= 0xFE)) {
      withModRm(0);
    } else {
      return Instruction();
    }
  } else {
    return Instruction();
  }
  if (at > 15) return Instruction();
  in.length = at;
  return in;
}

}  // namespace detours
