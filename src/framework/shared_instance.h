// SharedInstance: a lazily created, reference-counted, process-wide object per module (the
// object registry, the log binding). The first acquisition builds it, the last release
// destroys it, and a later acquisition builds a new one.
#pragma once

#include <windows.h>

#include <cstdlib>

namespace ov {

template <class T>
class SharedInstance {
 public:
  // Constant-initialised, so it is usable from any static constructor of the module.
  constexpr SharedInstance() = default;

  static SharedInstance& Holder() { return s_holder; }

  T* Acquire() {
    Lock();
    if (m_useCount == 0) {
      // A leftover instance (the exit hook ran, or a release raced) is replaced.
      delete m_instance;
      m_instance = new T();
      if (!m_exitHookRegistered) {
        m_exitHookRegistered = true;
        std::atexit(&SharedInstance::OnProcessExit);
      }
    }
    ++m_useCount;
    T* instance = m_instance;
    Unlock();
    return instance;
  }

  void Release() {
    Lock();
    if (m_useCount > 0) --m_useCount;
    if (m_useCount == 0 && m_instance != nullptr) {
      delete m_instance;
      m_instance = nullptr;
    }
    Unlock();
  }

  LONG UseCount() { return InterlockedCompareExchange(&m_useCount, 0, 0); }

 private:
  // A spin lock by atomic exchange: it needs no construction and no teardown, which a
  // critical section used from static constructors and the exit list could not promise.
  void Lock() {
    while (InterlockedExchange(&m_lock, 1) != 0) Sleep(1);
  }
  void Unlock() { InterlockedExchange(&m_lock, 0); }

  // Whatever is still held when the module's exit list runs is destroyed; late releases
  // then find a count of 0 and do nothing.
  static void OnProcessExit() {
    SharedInstance& holder = s_holder;
    holder.Lock();
    delete holder.m_instance;
    holder.m_instance = nullptr;
    holder.m_useCount = 0;
    holder.Unlock();
  }

  static SharedInstance s_holder;

  // Plain LONGs (not volatile) keep the holder a literal type, so it is constant-initialised
  // before any constructor runs; every access goes through Interlocked operations or the lock.
  LONG m_lock = 0;
  T* m_instance = nullptr;
  LONG m_useCount = 0;
  bool m_exitHookRegistered = false;
};

template <class T>
SharedInstance<T> SharedInstance<T>::s_holder;

// One holder's claim on the shared instance: it remembers the pointer and how many times it
// acquired, and gives every acquisition back when released or destroyed.
template <class T>
class SharedHandle {
 public:
  SharedHandle() { Acquire(); }
  SharedHandle(const SharedHandle&) = delete;
  SharedHandle& operator=(const SharedHandle&) = delete;
  ~SharedHandle() { Release(); }

  void Acquire() {
    m_instance = SharedInstance<T>::Holder().Acquire();
    InterlockedIncrement(&m_acquisitions);
  }

  void Release() {
    m_instance = nullptr;
    for (LONG n = InterlockedExchange(&m_acquisitions, 0); n > 0; --n) {
      SharedInstance<T>::Holder().Release();
    }
  }

  T* Get() const { return m_instance; }
  T* operator->() const { return m_instance; }

 private:
  T* m_instance = nullptr;
  LONG m_acquisitions = 0;
};

}  // namespace ov
