// Executable slots for trampolines. On x64 a slot lies within +-2 GB of the function it
// serves, so that a 5-byte relative jump reaches it from there and relocated rel32 operands
// still fit; on x86 every address is in reach.
#pragma once

#include <cstddef>
#include <cstdint>

namespace detours {

constexpr size_t kSlotSize = 128;

// A free slot near `origin`, or null when none can be had. Not thread-safe: the transaction
// functions call it under their lock.
uint8_t* AllocateSlot(const void* origin);
void FreeSlot(uint8_t* slot);
// Trampolines are read-execute once committed: a slot is made writable (and stays executable,
// for the live trampolines beside it) while it is built, and SealSlots makes every slot
// read-execute again.
bool UnsealSlot(uint8_t* slot);
void SealSlots();

}  // namespace detours
