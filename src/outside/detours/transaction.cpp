// The transaction bookkeeping behind the Detours API: attaches and detaches are prepared
// (trampolines built, nothing patched yet) and applied together at commit; a failure while
// patching restores every byte already written, and an abort changes nothing at all. Enlisted
// threads are suspended until the commit, which moves any of them that stopped inside the code
// it rewrites to the equivalent place (into the trampoline on attach, back out on detach).
#include <windows.h>

#include <cstring>
#include <vector>

#include "outside/detours/detours.h"
#include "outside/detours/instruction_decoder.h"
#include "outside/detours/stub_follower.h"
#include "outside/detours/trampoline_allocator.h"

namespace detours {
namespace {

constexpr size_t kPatchSize = 5;       // jmp rel32
constexpr size_t kMaxCopied = 32;
constexpr size_t kRelayOffset = 96;    // x64: "jmp [rip+0]; dq detour" the patch jumps to

struct Hook {
  uint8_t* target = nullptr;
  void* detour = nullptr;
  uint8_t* slot = nullptr;  // the trampoline (and on x64 the relay)
  size_t copied = 0;        // bytes of the target's instructions moved to the trampoline
  uint8_t original[kMaxCopied] = {};
  // Where each moved instruction starts, in the target and in the trampoline; the last entry is
  // the jump back (target + copied).
  size_t boundaries = 0;
  uint8_t fromTarget[kMaxCopied + 1] = {};
  uint8_t inTrampoline[kMaxCopied + 1] = {};
};

struct Operation {
  bool attach;
  PVOID* pointer;
  PVOID before;  // what the pointer held when the operation was prepared
  Hook* hook;
};

struct State {
  SRWLOCK lock = SRWLOCK_INIT;
  DWORD owner = 0;  // the thread with an open transaction, 0 when none
  LONG error = NO_ERROR;
  std::vector<Operation> operations;
  std::vector<HANDLE> suspended;
  std::vector<Hook*> hooks;  // committed attaches
};

State& Global() {
  static State* state = new State();  // hooks outlive every static destructor
  return *state;
}

void PutRel32(uint8_t* at, const uint8_t* next, const void* destination) {
  const int32_t rel = static_cast<int32_t>(reinterpret_cast<intptr_t>(destination) - reinterpret_cast<intptr_t>(next));
  memcpy(at, &rel, 4);
}

bool FitsRel32(const uint8_t* next, const void* destination) {
  const intptr_t distance = reinterpret_cast<intptr_t>(destination) - reinterpret_cast<intptr_t>(next);
  return distance >= INT32_MIN && distance <= INT32_MAX;
}

// An absolute jump (x64: jmp [rip+0] followed by the address; x86: jmp rel32); its length.
size_t PutJump(uint8_t* at, const void* destination) {
  if (kProcessIsX64) {
    const uint8_t jump[6] = {0xFF, 0x25, 0, 0, 0, 0};
    memcpy(at, jump, 6);
    const uint64_t address = reinterpret_cast<uintptr_t>(destination);
    memcpy(at + 6, &address, 8);
    return 14;
  }
  at[0] = 0xE9;
  PutRel32(at + 1, at + 5, destination);
  return 5;
}

// Copies whole instructions from the target until the patch fits, relocating what is relative
// to the instruction's address, then jumps back behind them. ERROR_INVALID_BLOCK for code that
// cannot be moved (unknown instructions, a function shorter than the patch, branches into the
// moved bytes or out of rel32 reach). The slot must be writable.
LONG BuildTrampoline(Hook& hook) {
  const uint8_t* target = hook.target;
  uint8_t* out = hook.slot;
  size_t copied = 0, boundaries = 0;
  bool ended = false;
  const uint8_t* branches[kMaxCopied];  // where the moved relative branches lead
  size_t branchCount = 0;
  while (copied < kPatchSize) {
    const Instruction in = DecodeInstruction(target + copied, kProcessIsX64);
    if (in.length == 0 || copied + in.length > kMaxCopied) return ERROR_INVALID_BLOCK;
    hook.fromTarget[boundaries] = static_cast<uint8_t>(copied);
    hook.inTrampoline[boundaries] = static_cast<uint8_t>(out - hook.slot);
    ++boundaries;
    const uint8_t* source = target + copied;
    const uint8_t* sourceNext = source + in.length;
    if (in.relative == Instruction::Relative::kNone) {
      memcpy(out, source, in.length);
      out += in.length;
    } else if (in.relative == Instruction::Relative::kBranch8) {
      const uint8_t* destination = sourceNext + static_cast<int8_t>(source[in.displacementAt]);
      if (in.displacementAt != 1) return ERROR_INVALID_BLOCK;
      branches[branchCount++] = destination;
      // jmp rel8 becomes jmp rel32, jcc rel8 becomes jcc rel32.
      const size_t length = source[0] == 0xEB ? 5 : 6;
      if (source[0] == 0xEB) {
        out[0] = 0xE9;
      } else {
        out[0] = 0x0F;
        out[1] = static_cast<uint8_t>(0x80 | (source[0] & 0x0F));
      }
      if (!FitsRel32(out + length, destination)) return ERROR_INVALID_BLOCK;
      PutRel32(out + length - 4, out + length, destination);
      out += length;
    } else {
      int32_t displacement;
      memcpy(&displacement, source + in.displacementAt, 4);
      const uint8_t* destination = sourceNext + displacement;
      if (in.relative == Instruction::Relative::kBranch32) branches[branchCount++] = destination;
      memcpy(out, source, in.length);
      if (!FitsRel32(out + in.length, destination)) return ERROR_INVALID_BLOCK;
      PutRel32(out + in.displacementAt, out + in.length, destination);
      out += in.length;
    }
    copied += in.length;
    if (in.endsFlow) {
      ended = true;
      break;
    }
  }
  if (copied < kPatchSize) return ERROR_INVALID_BLOCK;
  // A branch into any of the moved bytes would land in the patch, not in the instructions.
  for (size_t i = 0; i < branchCount; ++i) {
    if (branches[i] >= target && branches[i] < target + copied) return ERROR_INVALID_BLOCK;
  }
  hook.fromTarget[boundaries] = static_cast<uint8_t>(copied);
  hook.inTrampoline[boundaries] = static_cast<uint8_t>(out - hook.slot);
  hook.boundaries = boundaries + 1;
  if (!ended) out += PutJump(out, target + copied);
  if (static_cast<size_t>(out - hook.slot) > kRelayOffset) return ERROR_INVALID_BLOCK;
  if (kProcessIsX64) PutJump(hook.slot + kRelayOffset, hook.detour);
  hook.copied = copied;
  memcpy(hook.original, target, copied);
  FlushInstructionCache(GetCurrentProcess(), hook.slot, kSlotSize);
  return NO_ERROR;
}

// Writes `bytes` over the code at `at`; false (nothing written) when it cannot be made writable.
bool WriteCode(uint8_t* at, const uint8_t* bytes, size_t size) {
  DWORD previous = 0;
  if (!VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &previous)) return false;
  memcpy(at, bytes, size);
  DWORD ignored = 0;
  VirtualProtect(at, size, previous, &ignored);
  FlushInstructionCache(GetCurrentProcess(), at, size);
  return true;
}

void PatchBytes(const Hook& hook, uint8_t* patch) {
  memset(patch, 0xCC, hook.copied);  // what is left of the moved instructions is never run
  patch[0] = 0xE9;
  PutRel32(patch + 1, hook.target + kPatchSize, kProcessIsX64 ? static_cast<void*>(hook.slot + kRelayOffset) : hook.detour);
}

#ifdef _WIN64
DWORD64& InstructionPointer(CONTEXT& context) { return context.Rip; }
#else
DWORD& InstructionPointer(CONTEXT& context) { return context.Eip; }
#endif

// Where a thread stopped at `ip` goes on once the operation is applied; `ip` itself when the
// operation does not touch that code.
uintptr_t MovedInstructionPointer(const Operation& operation, uintptr_t ip) {
  const Hook& hook = *operation.hook;
  const uintptr_t target = reinterpret_cast<uintptr_t>(hook.target), slot = reinterpret_cast<uintptr_t>(hook.slot);
  for (size_t i = 0; i < hook.boundaries; ++i) {
    if (operation.attach && ip == target + hook.fromTarget[i] && hook.fromTarget[i] < hook.copied) {
      return slot + hook.inTrampoline[i];
    }
    if (!operation.attach && ip == slot + hook.inTrampoline[i]) return target + hook.fromTarget[i];
  }
  // Detach: a thread about to take the relay to the detour goes there directly.
  if (!operation.attach && kProcessIsX64 && ip == slot + kRelayOffset) return reinterpret_cast<uintptr_t>(hook.detour);
  return ip;
}

// Moves the suspended threads that stopped in code the transaction rewrites or frees.
void MoveSuspendedThreads(const State& state) {
  for (HANDLE thread : state.suspended) {
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) continue;
    const uintptr_t ip = static_cast<uintptr_t>(InstructionPointer(context));
    uintptr_t moved = ip;
    for (const Operation& operation : state.operations) moved = MovedInstructionPointer(operation, moved);
    if (moved == ip) continue;
    InstructionPointer(context) = moved;
    SetThreadContext(thread, &context);
  }
}

void ResumeSuspended(State& state) {
  for (HANDLE thread : state.suspended) ResumeThread(thread);
  state.suspended.clear();
}

// Ends the open transaction: prepared attaches give their slots back; memory is untouched.
void DropTransaction(State& state) {
  for (const Operation& operation : state.operations) {
    if (operation.attach) {
      FreeSlot(operation.hook->slot);
      delete operation.hook;
    }
  }
  state.operations.clear();
  SealSlots();
  ResumeSuspended(state);
  state.error = NO_ERROR;
  state.owner = 0;
}

// Runs `work` with the state locked, when the calling thread owns the open transaction.
template <typename Work>
LONG InTransaction(Work work) {
  State& state = Global();
  AcquireSRWLockExclusive(&state.lock);
  const LONG result = state.owner == GetCurrentThreadId() ? work(state) : ERROR_INVALID_OPERATION;
  ReleaseSRWLockExclusive(&state.lock);
  return result;
}

// Writes the patches (attach: the jump, detach: the original bytes); on a failure undoes what
// was written, newest first, and gives the error.
LONG ApplyPatches(State& state) {
  size_t applied = 0;
  LONG result = NO_ERROR;
  for (; applied < state.operations.size(); ++applied) {
    const Operation& operation = state.operations[applied];
    const Hook& hook = *operation.hook;
    uint8_t patch[kMaxCopied];
    if (operation.attach) PatchBytes(hook, patch);
    else memcpy(patch, hook.original, hook.copied);
    if (!WriteCode(hook.target, patch, hook.copied)) {
      result = static_cast<LONG>(GetLastError());
      break;
    }
  }
  if (result == NO_ERROR) return NO_ERROR;
  while (applied-- > 0) {
    const Operation& operation = state.operations[applied];
    const Hook& hook = *operation.hook;
    uint8_t patch[kMaxCopied];
    if (operation.attach) memcpy(patch, hook.original, hook.copied);
    else PatchBytes(hook, patch);
    WriteCode(hook.target, patch, hook.copied);
  }
  return result;
}

}  // namespace
}  // namespace detours

using detours::State;

LONG WINAPI DetourTransactionBegin() {
  State& state = detours::Global();
  AcquireSRWLockExclusive(&state.lock);
  LONG result = ERROR_INVALID_OPERATION;
  if (state.owner == 0) {
    state.owner = GetCurrentThreadId();
    state.error = NO_ERROR;
    result = NO_ERROR;
  }
  ReleaseSRWLockExclusive(&state.lock);
  return result;
}

LONG WINAPI DetourTransactionAbort() {
  return detours::InTransaction([](State& state) {
    detours::DropTransaction(state);
    return static_cast<LONG>(NO_ERROR);
  });
}

LONG WINAPI DetourUpdateThread(HANDLE thread) {
  return detours::InTransaction([thread](State& state) -> LONG {
    // The committing thread is never in the middle of the code it patches.
    if (thread == GetCurrentThread() || GetThreadId(thread) == GetCurrentThreadId()) return NO_ERROR;
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
      state.error = static_cast<LONG>(GetLastError());
      return state.error;
    }
    // SuspendThread only asks for the suspension; reading the context waits until it holds.
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) {
      state.error = static_cast<LONG>(GetLastError());
      ResumeThread(thread);
      return state.error;
    }
    state.suspended.push_back(thread);
    return NO_ERROR;
  });
}

LONG WINAPI DetourAttach(PVOID* pointer, PVOID detour) {
  return detours::InTransaction([pointer, detour](State& state) -> LONG {
    if (state.error != NO_ERROR) return state.error;
    if (pointer == nullptr || *pointer == nullptr || detour == nullptr) {
      state.error = ERROR_INVALID_HANDLE;
      return state.error;
    }
    auto* hook = new detours::Hook();
    hook->target = detours::FollowStubs(static_cast<uint8_t*>(*pointer));
    hook->detour = detour;
    hook->slot = detours::AllocateSlot(hook->target);
    LONG result = ERROR_NOT_ENOUGH_MEMORY;
    if (hook->slot != nullptr) {
      result = detours::UnsealSlot(hook->slot) ? detours::BuildTrampoline(*hook) : static_cast<LONG>(GetLastError());
    }
    if (result != NO_ERROR) {
      if (hook->slot != nullptr) detours::FreeSlot(hook->slot);
      delete hook;
      state.error = result;
      return result;
    }
    state.operations.push_back({true, pointer, *pointer, hook});
    return NO_ERROR;
  });
}

LONG WINAPI DetourDetach(PVOID* pointer, PVOID detour) {
  return detours::InTransaction([pointer, detour](State& state) -> LONG {
    if (state.error != NO_ERROR) return state.error;
    for (detours::Hook* hook : state.hooks) {
      if (pointer != nullptr && *pointer == hook->slot && hook->detour == detour) {
        state.operations.push_back({false, pointer, *pointer, hook});
        return NO_ERROR;
      }
    }
    state.error = ERROR_INVALID_BLOCK;
    return state.error;
  });
}

LONG WINAPI DetourTransactionCommit() {
  return detours::InTransaction([](State& state) -> LONG {
    if (state.error != NO_ERROR) {
      const LONG error = state.error;
      detours::DropTransaction(state);
      return error;
    }
    // The true pointers of attaches lead to the trampolines before any patch is live: a detour
    // that runs at once, on a thread not enlisted, calls on to the original, not to itself.
    for (const detours::Operation& operation : state.operations) {
      if (operation.attach) *operation.pointer = operation.hook->slot;
    }
    const LONG result = detours::ApplyPatches(state);
    if (result != NO_ERROR) {
      for (const detours::Operation& operation : state.operations) {
        if (operation.attach) *operation.pointer = operation.before;
      }
      detours::DropTransaction(state);
      return result;
    }
    // Detached functions are whole again: their true pointers may lead there now.
    for (const detours::Operation& operation : state.operations) {
      if (!operation.attach) *operation.pointer = operation.hook->target;
    }
    detours::MoveSuspendedThreads(state);
    for (const detours::Operation& operation : state.operations) {
      detours::Hook* hook = operation.hook;
      if (operation.attach) {
        state.hooks.push_back(hook);
        continue;
      }
      for (auto it = state.hooks.begin(); it != state.hooks.end(); ++it) {
        if (*it == hook) {
          state.hooks.erase(it);
          break;
        }
      }
      detours::FreeSlot(hook->slot);
      delete hook;
    }
    state.operations.clear();
    detours::SealSlots();
    detours::ResumeSuspended(state);
    state.owner = 0;
    return static_cast<LONG>(NO_ERROR);
  });
}
