// Hashes a download on a thread of its own while it is being written: the thread reads the
// bytes back from the disk behind the writer, so the file's catalog digest is ready when its
// last byte lands. It reads through a read-only handle of its own that shares writing only
// because the writer's handle must stay open beside it; that handle shares reading alone, so
// no other process can write meanwhile. Neither handle shares deleting: the file cannot be
// renamed, replaced or deleted while it is written and hashed. A small file is not worth a
// thread: the thread starts once kThreadFrom bytes have landed, and a file that stays smaller
// is hashed by Finish, read back from the same handle.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/scoped_handle.h"

namespace palisk {

class ReadBehindDigest {
 public:
  ReadBehindDigest() = default;
  ~ReadBehindDigest() { Stop(); }
  ReadBehindDigest(const ReadBehindDigest&) = delete;
  ReadBehindDigest& operator=(const ReadBehindDigest&) = delete;

  static constexpr uint64_t kThreadFrom = 1 << 20;

  // Opens the file the writer has just created, to hash it. 0 or the error.
  uint32_t Start(const std::wstring& path);
  // From the writer: the file now holds `size` bytes.
  void Landed(uint64_t size);
  // From the writer: it emptied the file to start over.
  void Emptied();
  // The writer is done and the file holds `size` bytes: waits for the last of them to be
  // hashed. 0 with the digest, or the error. The handle stays open until Stop.
  uint32_t Finish(uint64_t size, std::vector<uint8_t>& digest);
  // Ends the thread wherever it is and closes the handle.
  void Stop();

  HANDLE Handle() const { return m_file.Get(); }

 private:
  void Run();
  void StartThread();
  static DWORD WINAPI ThreadMain(void* self);
  // Waits for the thread to end and lets go of it.
  void JoinThread();

  ov::ScopedHandle m_file;
  ov::ScopedHandle m_thread;
  bool m_threadTried = false;
  std::mutex m_lock;
  std::condition_variable m_changed;
  // Shared with the thread, under m_lock.
  uint64_t m_landed = 0;
  uint64_t m_woken = 0;  // m_landed when the thread was last woken
  uint32_t m_generation = 0;
  bool m_final = false;
  bool m_stop = false;
  bool m_done = false;
  uint32_t m_result = 0;
  std::vector<uint8_t> m_digest;
};

}  // namespace palisk
