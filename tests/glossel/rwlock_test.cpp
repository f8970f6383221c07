// The writer-preferring reader/writer lock under contention.
#include "glossel/sync_rw_lock.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/fatal.h"

namespace {

TEST(SyncRWLock, NestedReadsAndWriterReads) {
  CSyncRWLock lock;
  lock.LockRead(0);
  lock.LockRead(0);
  lock.UnlockRead(0);
  lock.UnlockRead(0);
  lock.LockWrite(0);
  lock.LockWrite(0);
  lock.LockRead(0);  // the writer may read
  lock.UnlockRead(0);
  lock.UnlockWrite(0);
  lock.UnlockWrite(0);
  // Free again: another thread can write at once.
  std::thread([&lock] {
    lock.LockWrite(0);
    lock.UnlockWrite(0);
  }).join();
}

TEST(SyncRWLock, WaitingWriterGoesBeforeNewReaders) {
  CSyncRWLock lock;
  std::vector<int> order;
  std::atomic<int> stage{0};
  lock.LockRead(0);  // this thread reads
  std::thread writer([&] {
    stage = 1;
    lock.LockWrite(0);
    order.push_back(1);
    lock.UnlockWrite(0);
  });
  while (stage != 1) Sleep(1);
  Sleep(300);  // the writer is waiting now
  std::thread reader([&] {
    stage = 2;
    lock.LockRead(0);  // must wait behind the writer
    order.push_back(2);
    lock.UnlockRead(0);
  });
  while (stage != 2) Sleep(1);
  Sleep(300);
  EXPECT_TRUE(order.empty()) << "neither may run while the first reader reads";
  lock.UnlockRead(0);
  writer.join();
  reader.join();
  EXPECT_EQ((std::vector<int>{1, 2}), order) << "writers are not starved by new readers";
}

TEST(SyncRWLock, ManyReadersReadTogether) {
  CSyncRWLock lock;
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      lock.LockRead(0);
      const int now = ++inside;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      Sleep(50);
      --inside;
      lock.UnlockRead(0);
    });
  }
  for (std::thread& t : readers) t.join();
  EXPECT_GT(most.load(), 1);
}

TEST(SyncRWLockDeathTest, ReaderCannotUpgrade) {
  EXPECT_EXIT(
      {
        CSyncRWLock lock;
        lock.LockRead(0);
        lock.LockWrite(0);
      },
      testing::ExitedWithCode(static_cast<int>(ov::kCorruptionExceptionCode)), "");
}

}  // namespace
