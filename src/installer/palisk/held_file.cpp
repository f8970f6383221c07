#include "installer/palisk/held_file.h"

namespace palisk {

uint32_t HeldFile::Open(const std::wstring& path) {
  Close();
  m_file.Set(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  if (!m_file.IsValid()) return GetLastError();
  m_path = path;
  return 0;
}

void HeldFile::Close() {
  m_file.Close();
  m_path.clear();
}

bool HeldFile::Size(uint64_t& size) const {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(m_file.Get(), &value)) return false;
  size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool ReadFileAt(HANDLE file, uint64_t offset, void* buffer, uint32_t size, uint32_t& read) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  // On a handle opened for synchronous I/O the offset is honoured and the call still waits.
  const BOOL ok = ReadFile(file, buffer, size, &got, &at);
  read = got;
  return ok != FALSE || GetLastError() == ERROR_HANDLE_EOF;
}

}  // namespace palisk
