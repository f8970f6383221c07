// Where a forwarding stub leads. System DLLs export many functions as stubs that only jump to
// the DLL that implements them (kernel32's LoadLibrary* jump to kernelbase's), and hooking the
// stub would divert only the callers that import it from there. A stub is a jump, optionally
// behind a do-nothing prologue:
//   x86: "mov edi,edi" (the hot-patch pad), "push ebp; mov ebp,esp; pop ebp", nops;
//   x64: "lea rsp,[rsp+0]" (Wine's 8-byte pad), "xchg ax,ax", nops;
// then "jmp [address]" (x64: rip-relative, optionally REX.W) or "jmp rel32" / "jmp rel8".
#pragma once

#include <cstdint>

namespace detours {

struct StubJump {
  enum class Kind { kNone, kThroughSlot, kDirect };
  Kind kind = Kind::kNone;
  uintptr_t address = 0;  // the pointer slot (kThroughSlot) or the destination (kDirect)
};

// Decodes the stub at `code` (which lies at `at` in the code's own address space) for 32-bit or
// 64-bit code; kNone when the bytes are anything else than a stub.
StubJump DecodeStubJump(const uint8_t* code, uintptr_t at, bool x64);

// The code a function pointer of this process really leads to: stubs are followed (a few hops
// at most) to the first code that is not one.
uint8_t* FollowStubs(uint8_t* code);

}  // namespace detours
