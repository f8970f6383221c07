#include "outside/logdll/log_settings.h"

#include <cwchar>
#include <cwctype>

namespace logdll {
namespace {

constexpr wchar_t kSettingsName[] = L"log.ini";

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Expand(const std::wstring& text) {
  const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (n == 0) return text;
  std::wstring expanded(n, L'\0');
  ExpandEnvironmentStringsW(text.c_str(), &expanded[0], n);
  expanded.resize(n - 1);
  return expanded;
}

std::wstring ReadValue(const std::wstring& file, const wchar_t* key, const wchar_t* fallback) {
  wchar_t buffer[1024];
  GetPrivateProfileStringW(L"log", key, fallback, buffer, 1024, file.c_str());
  return buffer;
}

std::wstring WithoutTrailingSlash(std::wstring folder) {
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

}  // namespace

uint32_t ParseLevel(const std::wstring& text, uint32_t fallback) {
  std::wstring lower;
  for (wchar_t c : text) lower += static_cast<wchar_t>(std::towlower(c));
  if (lower == L"error") return 4;
  if (lower == L"plugin") return 8;
  if (lower == L"info") return 16;
  if (lower == L"trace") return 32;
  if (lower.empty()) return fallback;
  wchar_t* end = nullptr;
  const unsigned long value = std::wcstoul(lower.c_str(), &end, 10);
  return (end != nullptr && *end == 0) ? static_cast<uint32_t>(value) : fallback;
}

LogSettings ReadLogSettings(const std::wstring& dllFolder) {
  LogSettings settings;
  std::wstring file = dllFolder + L"\\" + kSettingsName;
  if (!FileExists(file)) {
    file = Expand(L"%ProgramData%\\Palisk\\") + kSettingsName;
    if (!FileExists(file)) return settings;
  }
  settings.sourceFile = file;
  settings.enabled = ReadValue(file, L"enabled", L"1") != L"0";
  settings.folder = WithoutTrailingSlash(Expand(ReadValue(file, L"folder", L"%ProgramData%\\Palisk\\Logs")));
  settings.maxLevel = ParseLevel(ReadValue(file, L"level", L"info"), 16);
  return settings;
}

}  // namespace logdll
