// Owner of one COM interface pointer (Release on destruction), and a COM apartment scope.
#pragma once

#include <objbase.h>

namespace ov {

template <class T>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  ~ScopedComPtr() { Reset(); }
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;
  ScopedComPtr(ScopedComPtr&& other) noexcept : m_pointer(other.m_pointer) { other.m_pointer = nullptr; }
  ScopedComPtr& operator=(ScopedComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      m_pointer = other.m_pointer;
      other.m_pointer = nullptr;
    }
    return *this;
  }

  T* Get() const { return m_pointer; }
  T* operator->() const { return m_pointer; }
  explicit operator bool() const { return m_pointer != nullptr; }
  // For out parameters: releases what is held first.
  T** Receive() {
    Reset();
    return &m_pointer;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (m_pointer != nullptr) m_pointer->Release();
    m_pointer = nullptr;
  }

 private:
  T* m_pointer = nullptr;
};

}  // namespace ov
