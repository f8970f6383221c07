#include "framework/file_util.h"

#include <windows.h>

#include "framework/scoped_handle.h"

namespace ov {

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, uint64_t maxBytes) {
  bytes.clear();
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file.Get(), &size) && static_cast<uint64_t>(size.QuadPart) > maxBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  char buffer[65536];
  DWORD read = 0;
  for (;;) {
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) {
      bytes.clear();
      return false;
    }
    if (read == 0) return true;
    // The file may still be growing: the limit holds for what is read, too.
    if (bytes.size() + read > maxBytes) {
      bytes.clear();
      SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    bytes.append(buffer, read);
  }
}

}  // namespace ov
