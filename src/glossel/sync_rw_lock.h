// A reader/writer lock that prefers writers: waiting writers go before new readers. Readers
// and the writer may nest; the writer may also read; a reader may not upgrade to writing.
#pragma once

#include <windows.h>

#include <map>

class ISyncRWLock {
 public:
  // A thread id of 0 means the calling thread.
  virtual void LockRead(DWORD threadId) = 0;
  virtual void UnlockRead(DWORD threadId) = 0;
  virtual void LockWrite(DWORD threadId) = 0;
  virtual void UnlockWrite(DWORD threadId) = 0;
};

class CSyncRWLock final : public ISyncRWLock {
 public:
  CSyncRWLock();
  ~CSyncRWLock();
  CSyncRWLock(const CSyncRWLock&) = delete;
  CSyncRWLock& operator=(const CSyncRWLock&) = delete;

  void LockRead(DWORD threadId) override;
  void UnlockRead(DWORD threadId) override;
  void LockWrite(DWORD threadId) override;
  void UnlockWrite(DWORD threadId) override;

 private:
  void ReleaseWriteLocked();  // under m_state

  CRITICAL_SECTION m_state;
  LONG m_readingThreads = 0;
  std::map<DWORD, LONG> m_readNesting;
  bool m_writerHeld = false;
  DWORD m_writer = 0;
  LONG m_writeNesting = 0;
  LONG m_writerReads = 0;
  LONG m_waitingReaders = 0;
  LONG m_waitingWriters = 0;
  HANDLE m_readersGo;
  HANDLE m_writersGo;
};

// Scoped holders.
class ReadLock {
 public:
  explicit ReadLock(ISyncRWLock& lock) : m_lock(lock) { m_lock.LockRead(0); }
  ~ReadLock() { m_lock.UnlockRead(0); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  ISyncRWLock& m_lock;
};

class WriteLock {
 public:
  explicit WriteLock(ISyncRWLock& lock) : m_lock(lock) { m_lock.LockWrite(0); }
  ~WriteLock() { m_lock.UnlockWrite(0); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  ISyncRWLock& m_lock;
};
