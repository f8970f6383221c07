#include "framework/memmgr.h"

#include <cstdlib>

namespace ov {

StringMemMgr* StringMemMgr::Instance() {
  // Never destroyed: strings in static objects may be freed after other statics are gone.
  static StringMemMgr* const instance = new StringMemMgr();
  return instance;
}

void* StringMemMgr::Allocate(size_t bytes) { return std::malloc(bytes); }

void* StringMemMgr::Reallocate(void* block, size_t bytes) { return std::realloc(block, bytes); }

void StringMemMgr::Free(void* block) { std::free(block); }

void StringMemMgr::Release() {}

}  // namespace ov
