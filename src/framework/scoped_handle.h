// One move-only owner for every kind of Windows handle. A traits class says what the null
// value is, what counts as valid and how to close one.
#pragma once

#include <windows.h>

namespace ov {

template <class Traits>
class GenericScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  GenericScopedHandle() = default;
  explicit GenericScopedHandle(Handle handle) { Set(handle); }
  GenericScopedHandle(GenericScopedHandle&& other) noexcept : m_handle(other.Take()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) Set(other.Take());
    return *this;
  }
  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;
  ~GenericScopedHandle() { Close(); }

  bool IsValid() const { return Traits::IsValid(m_handle); }
  Handle Get() const { return m_handle; }

  // Takes ownership of `handle`, closing the old one. The caller's GetLastError survives
  // the close: callers read it right after the call that gave them the handle.
  void Set(Handle handle) {
    if (handle == m_handle) return;
    const DWORD error = GetLastError();
    Close();
    m_handle = handle;
    SetLastError(error);
  }

  // Gives up ownership without closing.
  Handle Take() {
    Handle handle = m_handle;
    m_handle = Traits::NullHandle();
    return handle;
  }

  void Close() {
    if (Traits::IsValid(m_handle)) Traits::Close(m_handle);
    m_handle = Traits::NullHandle();
  }

 private:
  Handle m_handle = Traits::NullHandle();
};

// Kernel objects: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
using ScopedHandle = GenericScopedHandle<KernelHandleTraits>;

struct ModuleHandleTraits {
  using Handle = HMODULE;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
using ScopedModule = GenericScopedHandle<ModuleHandleTraits>;

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};
using ScopedRegKey = GenericScopedHandle<RegKeyTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle NullHandle() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};
using ScopedFindHandle = GenericScopedHandle<FindHandleTraits>;

// GetProcAddress with the cast every caller would otherwise repeat.
template <class Fn>
Fn GetProc(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace ov
