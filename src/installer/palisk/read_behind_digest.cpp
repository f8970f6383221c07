#include "installer/palisk/read_behind_digest.h"

#include <algorithm>

#include "installer/palisk/authenticode_hash.h"
#include "installer/palisk/held_file.h"

namespace palisk {
namespace {

// The thread reads back this much at a time: large enough that it wakes rarely, small
// enough that the bytes are still in the system's cache.
constexpr uint32_t kReadBack = 256 * 1024;

}  // namespace

uint32_t ReadBehindDigest::Start(const std::wstring& path) {
  Stop();
  m_file.Set(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!m_file.IsValid()) return GetLastError();
  m_landed = m_woken = 0;
  m_generation = 0;
  m_final = m_stop = m_done = false;
  m_result = 0;
  m_digest.clear();
  m_threadTried = false;
  return 0;
}

// A thread of the system's own rather than std::thread: its failure is a null handle, not an
// exception. With no thread, Finish hashes the file itself.
void ReadBehindDigest::StartThread() {
  m_threadTried = true;
  m_thread.Set(CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr));
}

DWORD WINAPI ReadBehindDigest::ThreadMain(void* self) {
  static_cast<ReadBehindDigest*>(self)->Run();
  return 0;
}

void ReadBehindDigest::JoinThread() {
  WaitForSingleObject(m_thread.Get(), INFINITE);
  m_thread.Close();
}

void ReadBehindDigest::Landed(uint64_t size) {
  // Only the writer's thread calls Landed, Emptied, Finish and Stop: m_thread is its own.
  if (!m_threadTried && size >= kThreadFrom && m_file.IsValid()) StartThread();
  std::lock_guard<std::mutex> hold(m_lock);
  m_landed = size;
  // Woken once per piece read back, not for every write.
  if (m_landed - m_woken >= kReadBack) {
    m_woken = m_landed;
    m_changed.notify_all();
  }
}

void ReadBehindDigest::Emptied() {
  std::lock_guard<std::mutex> hold(m_lock);
  ++m_generation;
  m_landed = m_woken = 0;
  m_changed.notify_all();
}

uint32_t ReadBehindDigest::Finish(uint64_t size, std::vector<uint8_t>& digest) {
  digest.clear();
  if (!m_file.IsValid()) return ERROR_INVALID_HANDLE;
  if (!m_thread.IsValid()) {
    m_landed = size;
    m_final = true;
    Run();
    digest = m_digest;
    return m_result;
  }
  {
    std::unique_lock<std::mutex> hold(m_lock);
    m_landed = size;
    m_final = true;
    m_changed.notify_all();
    m_changed.wait(hold, [this] { return m_done; });
  }
  JoinThread();
  digest = m_digest;
  return m_result;
}

void ReadBehindDigest::Stop() {
  if (m_thread.IsValid()) {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_stop = true;
      m_changed.notify_all();
    }
    JoinThread();
  }
  m_file.Close();
}

void ReadBehindDigest::Run() {
  CatalogDigestStream stream;
  std::vector<uint8_t> buffer(kReadBack);
  uint64_t hashed = 0;
  uint32_t generation = 0;
  uint32_t error = 0;
  for (;;) {
    uint64_t landed = 0;
    bool final = false;
    {
      std::unique_lock<std::mutex> hold(m_lock);
      m_changed.wait(hold, [&] {
        return m_stop || m_generation != generation || m_final ||
               (error == 0 && m_landed >= hashed + kReadBack);
      });
      if (m_stop) return;
      if (m_generation != generation) {  // the file was emptied: its bytes come again
        generation = m_generation;
        stream.Reset();
        hashed = 0;
        error = 0;
        continue;
      }
      landed = m_landed;
      final = m_final;
    }
    while (error == 0 && hashed < landed) {
      const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(landed - hashed, buffer.size()));
      uint32_t read = 0;
      if (!ReadFileAt(m_file.Get(), hashed, buffer.data(), wanted, read)) error = GetLastError();
      else if (read != wanted) error = ERROR_READ_FAULT;  // the writer said these bytes are there
      else if (!stream.Add(buffer.data(), read)) error = ERROR_FUNCTION_FAILED;
      hashed += read;
    }
    if (final) {
      std::vector<uint8_t> digest;
      const uint32_t result = error != 0 ? error : stream.Finish(digest);
      std::lock_guard<std::mutex> hold(m_lock);
      m_result = result;
      m_digest = digest;
      m_done = true;
      m_changed.notify_all();
      return;
    }
  }
}

}  // namespace palisk
