#include "installer/palisk/kit_file_name.h"

#include <cwctype>

namespace palisk {
namespace {

bool SameText(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

bool IsPortDigit(wchar_t c) {
  // Windows counts the superscript digits 1-3 as port numbers too.
  return (c >= L'0' && c <= L'9') || c == 0x00B9 || c == 0x00B2 || c == 0x00B3;
}

// Windows maps a device name to the device whatever follows its first dot, and ignores blanks
// before that dot: "CON", "con.txt" and "Con .log" all open the console.
bool IsReservedDevice(const std::wstring& part) {
  std::wstring stem = part.substr(0, part.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (SameText(stem, device)) return true;
  }
  return stem.size() == 4 && (SameText(stem.substr(0, 3), L"COM") || SameText(stem.substr(0, 3), L"LPT")) &&
         IsPortDigit(stem[3]);
}

}  // namespace

bool IsSafeKitFileName(const std::wstring& name) {
  if (name.find(L"..") != std::wstring::npos) return false;
  for (wchar_t c : name) {
    if (c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|') {
      return false;
    }
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring part = name.substr(start, end - start);
    if (!part.empty() && (part.back() == L'.' || part.back() == L' ' || IsReservedDevice(part))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace palisk
