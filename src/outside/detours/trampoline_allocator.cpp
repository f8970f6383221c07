#include "outside/detours/trampoline_allocator.h"

#include <windows.h>

#include <bitset>
#include <vector>

namespace detours {
namespace {

constexpr size_t kRegionSize = 64 * 1024;  // the allocation granularity
constexpr size_t kSlotsPerRegion = kRegionSize / kSlotSize;
// Comfortably inside a rel32's reach, whichever end of a region a slot has.
constexpr uintptr_t kReach = 0x70000000;

struct Region {
  uint8_t* base;
  std::bitset<kSlotsPerRegion> used;
};

std::vector<Region>& Regions() {
  static std::vector<Region>* regions = new std::vector<Region>();  // lives as long as the hooks
  return *regions;
}

bool InReach(const uint8_t* region, const void* origin) {
#ifdef _WIN64
  const uintptr_t a = reinterpret_cast<uintptr_t>(region), b = reinterpret_cast<uintptr_t>(origin);
  return (a > b ? a - b : b - a) < kReach;
#else
  (void)region;
  (void)origin;
  return true;
#endif
}

uint8_t* NewRegion(const void* origin) {
#ifdef _WIN64
  // Walk the address space upwards from below `origin` for a free, aligned block in reach.
  const uintptr_t target = reinterpret_cast<uintptr_t>(origin);
  uintptr_t at = target > kReach ? target - kReach : kRegionSize;
  at = (at + kRegionSize - 1) & ~(kRegionSize - 1);
  while (at < target + kReach) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == 0) break;
    if (info.State == MEM_FREE) {
      if (void* block = VirtualAlloc(reinterpret_cast<void*>(at), kRegionSize, MEM_RESERVE | MEM_COMMIT,
                                     PAGE_EXECUTE_READWRITE)) {
        return static_cast<uint8_t*>(block);
      }
    }
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    at = (next > at ? next : at + kRegionSize) + kRegionSize - 1;
    at &= ~(kRegionSize - 1);
  }
  return nullptr;
#else
  (void)origin;
  return static_cast<uint8_t*>(VirtualAlloc(nullptr, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
#endif
}

}  // namespace

uint8_t* AllocateSlot(const void* origin) {
  for (Region& region : Regions()) {
    if (region.used.all() || !InReach(region.base, origin)) continue;
    for (size_t i = 0; i < kSlotsPerRegion; ++i) {
      if (!region.used[i]) {
        region.used[i] = true;
        return region.base + i * kSlotSize;
      }
    }
  }
  uint8_t* base = NewRegion(origin);
  if (base == nullptr) return nullptr;
  Regions().push_back(Region{base, {}});
  Regions().back().used[0] = true;
  return base;
}

void FreeSlot(uint8_t* slot) {
  for (Region& region : Regions()) {
    if (slot >= region.base && slot < region.base + kRegionSize) {
      const size_t index = static_cast<size_t>(slot - region.base) / kSlotSize;
      region.used[index] = false;
      // A freed slot is filled with int3: a stale jump into it stops instead of running on.
      if (UnsealSlot(slot)) memset(slot, 0xCC, kSlotSize);
      return;
    }
  }
}

bool UnsealSlot(uint8_t* slot) {
  DWORD previous = 0;
  return VirtualProtect(slot, kSlotSize, PAGE_EXECUTE_READWRITE, &previous) != 0;
}

void SealSlots() {
  for (const Region& region : Regions()) {
    DWORD previous = 0;
    VirtualProtect(region.base, kRegionSize, PAGE_EXECUTE_READ, &previous);
  }
}

}  // namespace detours
