// A downloaded file held open from the end of its download until the run is done with it.
// The handle reads and shares reading only: while it is open no process can write to the
// file, rename it or delete it, yet the loader can still map it to run it. Everything that
// judges the file (catalog digest, publisher signature) reads it through this handle, so the
// bytes judged are the bytes that run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/scoped_handle.h"

namespace palisk {

// Reads up to `size` bytes of `file` at `offset`, leaving the handle's own position alone, so
// several readers may share one handle. `read` is short only at the end of the file.
bool ReadFileAt(HANDLE file, uint64_t offset, void* buffer, uint32_t size, uint32_t& read);

class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(HeldFile&&) = default;
  HeldFile& operator=(HeldFile&&) = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // 0, or the error of opening `path`: ERROR_SHARING_VIOLATION when some process still has
  // it open for writing or deleting, ERROR_FILE_NOT_FOUND when it is not there.
  uint32_t Open(const std::wstring& path);
  void Close();

  bool IsOpen() const { return m_file.IsValid(); }
  HANDLE Handle() const { return m_file.Get(); }
  const std::wstring& Path() const { return m_path; }

  // The file's size (fixed while it is held); false with GetLastError when it cannot be read.
  bool Size(uint64_t& size) const;
  // Reads up to `size` bytes at `offset`. Each read names its own offset, so several readers
  // (a hashing thread among them) may share the handle; `read` is short only at the end.
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size, uint32_t& read) const {
    return ReadFileAt(m_file.Get(), offset, buffer, size, read);
  }

 private:
  std::wstring m_path;
  ov::ScopedHandle m_file;
};

}  // namespace palisk
