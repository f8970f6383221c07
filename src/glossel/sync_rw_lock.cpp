#include "glossel/sync_rw_lock.h"

#include "framework/fatal.h"

namespace {

DWORD Resolve(DWORD threadId) { return threadId != 0 ? threadId : GetCurrentThreadId(); }

}  // namespace

CSyncRWLock::CSyncRWLock() {
  InitializeCriticalSection(&m_state);
  m_readersGo = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
  m_writersGo = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
  // Without its semaphores the lock would let waiters through unexcluded: like any other
  // misuse of the lock, that ends the process.
  if (m_readersGo == nullptr || m_writersGo == nullptr) {
    ov::EndProcessOnCorruption("CSyncRWLock: the lock's semaphores cannot be created");
  }
}

CSyncRWLock::~CSyncRWLock() {
  CloseHandle(m_readersGo);
  CloseHandle(m_writersGo);
  DeleteCriticalSection(&m_state);
}

void CSyncRWLock::LockRead(DWORD threadId) {
  const DWORD self = Resolve(threadId);
  EnterCriticalSection(&m_state);
  auto nested = m_readNesting.find(self);
  if (nested != m_readNesting.end()) {
    ++nested->second;
    LeaveCriticalSection(&m_state);
    return;
  }
  if (m_writerHeld && m_writer == self) {
    ++m_writerReads;
    LeaveCriticalSection(&m_state);
    return;
  }
  if (m_writerHeld || m_waitingWriters > 0) {
    ++m_waitingReaders;
    LeaveCriticalSection(&m_state);
    WaitForSingleObject(m_readersGo, INFINITE);  // admitted: counted as reading by the releaser
    EnterCriticalSection(&m_state);
    m_readNesting[self] = 1;
    LeaveCriticalSection(&m_state);
    return;
  }
  m_readNesting[self] = 1;
  ++m_readingThreads;
  LeaveCriticalSection(&m_state);
}

void CSyncRWLock::UnlockRead(DWORD threadId) {
  const DWORD self = Resolve(threadId);
  EnterCriticalSection(&m_state);
  if (m_writerHeld && m_writer == self && m_writerReads > 0) {
    --m_writerReads;
    if (m_writerReads == 0 && m_writeNesting == 0) ReleaseWriteLocked();
    LeaveCriticalSection(&m_state);
    return;
  }
  auto nested = m_readNesting.find(self);
  if (nested == m_readNesting.end()) {
    LeaveCriticalSection(&m_state);
    ov::EndProcessOnCorruption("CSyncRWLock: read unlock by a thread that holds no read lock");
  }
  if (--nested->second == 0) {
    m_readNesting.erase(nested);
    if (--m_readingThreads == 0 && m_waitingWriters > 0) {
      --m_waitingWriters;
      m_writerHeld = true;  // the woken writer sets its id and nesting
      m_writer = 0;
      ReleaseSemaphore(m_writersGo, 1, nullptr);
    }
  }
  LeaveCriticalSection(&m_state);
}

void CSyncRWLock::LockWrite(DWORD threadId) {
  const DWORD self = Resolve(threadId);
  EnterCriticalSection(&m_state);
  if (m_writerHeld && m_writer == self) {
    ++m_writeNesting;
    LeaveCriticalSection(&m_state);
    return;
  }
  if (m_readNesting.count(self) != 0) {
    LeaveCriticalSection(&m_state);
    ov::EndProcessOnCorruption("CSyncRWLock: a reading thread asked for the write lock");
  }
  if (!m_writerHeld && m_readingThreads == 0) {
    m_writerHeld = true;
    m_writer = self;
    m_writeNesting = 1;
    LeaveCriticalSection(&m_state);
    return;
  }
  ++m_waitingWriters;
  LeaveCriticalSection(&m_state);
  WaitForSingleObject(m_writersGo, INFINITE);  // handed over: m_writerHeld already set
  EnterCriticalSection(&m_state);
  m_writer = self;
  m_writeNesting = 1;
  m_writerReads = 0;
  LeaveCriticalSection(&m_state);
}

void CSyncRWLock::UnlockWrite(DWORD threadId) {
  const DWORD self = Resolve(threadId);
  EnterCriticalSection(&m_state);
  if (!m_writerHeld || m_writer != self || m_writeNesting == 0) {
    LeaveCriticalSection(&m_state);
    ov::EndProcessOnCorruption("CSyncRWLock: write unlock by a thread that does not hold it");
  }
  if (--m_writeNesting == 0 && m_writerReads == 0) ReleaseWriteLocked();
  LeaveCriticalSection(&m_state);
}

void CSyncRWLock::ReleaseWriteLocked() {
  m_writer = 0;
  if (m_waitingWriters > 0) {
    --m_waitingWriters;
    m_writerHeld = true;
    ReleaseSemaphore(m_writersGo, 1, nullptr);
    return;
  }
  m_writerHeld = false;
  if (m_waitingReaders > 0) {
    m_readingThreads = m_waitingReaders;
    const LONG admitted = m_waitingReaders;
    m_waitingReaders = 0;
    ReleaseSemaphore(m_readersGo, admitted, nullptr);
  }
}
