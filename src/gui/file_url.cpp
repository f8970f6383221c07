#include "gui/file_url.h"

#include <windows.h>

#include <cwchar>

#include "framework/utf8.h"

namespace ov {
namespace gui {
namespace {

bool StaysAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/' || c == ':';
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Full path with "." and ".." folded; empty when Windows cannot make one.
std::wstring FullPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return std::wstring();
  return std::wstring(buffer, length);
}

}  // namespace

std::wstring FileUrlOfPath(const std::wstring& path) {
  std::wstring slashed = path;
  for (wchar_t& c : slashed) {
    if (c == L'\\') c = L'/';
  }
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring url = L"file:///";
  for (unsigned char byte : ToUtf8(slashed)) {
    if (StaysAsIs(byte)) {
      url += static_cast<wchar_t>(byte);
    } else {
      url += L'%';
      url += kHex[byte >> 4];
      url += kHex[byte & 15];
    }
  }
  return url;
}

bool PathOfFileUrl(const std::wstring& url, std::wstring* path) {
  if (_wcsnicmp(url.c_str(), L"file://", 7) != 0) {
    if (url.size() < 3 || url[1] != L':') return false;
    *path = url;
  } else {
    std::string bytes;
    const std::wstring rest = url.substr(url.size() > 7 && url[7] == L'/' ? 8 : 7);
    for (size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == L'%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 && HexValue(rest[i + 2]) >= 0) {
        bytes += static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
        i += 2;
      } else {
        bytes += ToUtf8(std::wstring(1, rest[i]));
      }
    }
    *path = FromUtf8(bytes);
  }
  for (wchar_t& c : *path) {
    if (c == L'/') c = L'\\';
  }
  return !path->empty();
}

bool PathIsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  // Only drive paths: shares and device paths never hold the program's own files.
  if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') return false;
  const std::wstring full = FullPath(path);
  std::wstring root = FullPath(folder);
  if (full.empty() || root.empty()) return false;
  if (root.back() != L'\\') root += L'\\';
  return full.size() > root.size() && _wcsnicmp(full.c_str(), root.c_str(), root.size()) == 0;
}

}  // namespace gui
}  // namespace ov
