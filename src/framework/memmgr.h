// The memory manager behind guarded string blocks.
#pragma once

#include <cstddef>

namespace ov {

class IMemMgr {
 public:
  virtual void* Allocate(size_t bytes) = 0;
  // Null `block` allocates; null result means the old block is still valid and unchanged.
  virtual void* Reallocate(void* block, size_t bytes) = 0;
  virtual void Free(void* block) = 0;
  // Called once for every block given back; the C-runtime manager has nothing to do here.
  virtual void Release() = 0;
};

// The process-wide manager over the C runtime's malloc, realloc and free.
class StringMemMgr : public IMemMgr {
 public:
  static StringMemMgr* Instance();

  void* Allocate(size_t bytes) override;
  void* Reallocate(void* block, size_t bytes) override;
  void Free(void* block) override;
  void Release() override;
};

}  // namespace ov
