#include "outside/detours/stub_follower.h"

#include "outside/detours/instruction_decoder.h"

#include <cstring>

namespace detours {
namespace {


// Length of a do-nothing instruction (or group) at `code`, 0 when there is none.
size_t PadLength(const uint8_t* code, bool x64) {
  static const uint8_t kMovEdiEdi[] = {0x8B, 0xFF};
  static const uint8_t kEmptyFrame[] = {0x55, 0x8B, 0xEC, 0x5D};  // push ebp; mov ebp,esp; pop ebp
  static const uint8_t kLeaRspRsp[] = {0x48, 0x8D, 0xA4, 0x24, 0, 0, 0, 0};
  static const uint8_t kXchgAxAx[] = {0x66, 0x90};
  if (code[0] == 0x90) return 1;
  if (memcmp(code, kXchgAxAx, sizeof kXchgAxAx) == 0) return sizeof kXchgAxAx;
  if (x64) return memcmp(code, kLeaRspRsp, sizeof kLeaRspRsp) == 0 ? sizeof kLeaRspRsp : 0;
  if (memcmp(code, kMovEdiEdi, sizeof kMovEdiEdi) == 0) return sizeof kMovEdiEdi;
  if (memcmp(code, kEmptyFrame, sizeof kEmptyFrame) == 0) return sizeof kEmptyFrame;
  return 0;
}

int32_t Rel32(const uint8_t* at) {
  int32_t value;
  memcpy(&value, at, 4);
  return value;
}

}  // namespace

StubJump DecodeStubJump(const uint8_t* code, uintptr_t at, bool x64) {
  StubJump jump;
  size_t offset = 0;
  for (int pads = 0; pads < 4; ++pads) {
    const size_t length = PadLength(code + offset, x64);
    if (length == 0) break;
    offset += length;
  }
  const uint8_t* op = code + offset;
  if (x64 && op[0] == 0x48 && op[1] == 0xFF && op[2] == 0x25) {  // REX.W, which some linkers put in front
    ++op;
    ++offset;
  }
  const uintptr_t mask = x64 ? ~uintptr_t{0} : uintptr_t{0xFFFFFFFF};
  if (op[0] == 0xFF && op[1] == 0x25) {
    jump.kind = StubJump::Kind::kThroughSlot;
    // x64: relative to the next instruction; x86: an absolute address.
    jump.address = x64 ? at + offset + 6 + static_cast<uintptr_t>(static_cast<intptr_t>(Rel32(op + 2)))
                       : static_cast<uint32_t>(Rel32(op + 2));
  } else if (op[0] == 0xE9) {
    jump.kind = StubJump::Kind::kDirect;
    jump.address = (at + offset + 5 + static_cast<uintptr_t>(static_cast<intptr_t>(Rel32(op + 1)))) & mask;
  } else if (op[0] == 0xEB) {
    jump.kind = StubJump::Kind::kDirect;
    jump.address = (at + offset + 2 + static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int8_t>(op[1])))) & mask;
  }
  return jump;
}

uint8_t* FollowStubs(uint8_t* code) {
  for (int hops = 0; hops < 4; ++hops) {
    const StubJump jump = DecodeStubJump(code, reinterpret_cast<uintptr_t>(code), kProcessIsX64);
    uint8_t* next = nullptr;
    if (jump.kind == StubJump::Kind::kThroughSlot) {
      memcpy(&next, reinterpret_cast<const void*>(jump.address), sizeof next);
    } else if (jump.kind == StubJump::Kind::kDirect) {
      next = reinterpret_cast<uint8_t*>(jump.address);
    }
    if (next == nullptr || next == code) break;
    code = next;
  }
  return code;
}

}  // namespace detours
