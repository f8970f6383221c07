#include "installer/palisk/path_macros.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <map>
#include <vector>

namespace palisk {
namespace {

std::map<std::wstring, int> MacroTable() {
  return {
      {L"programfiles", CSIDL_PROGRAM_FILES},
      {L"programfiles(x86)", CSIDL_PROGRAM_FILESX86},
      {L"commonprogramfiles", CSIDL_PROGRAM_FILES_COMMON},
      {L"commonprogramfiles(x86)", CSIDL_PROGRAM_FILES_COMMONX86},
      {L"system", CSIDL_SYSTEM},
      {L"system(x86)", CSIDL_SYSTEMX86},
      {L"windir", CSIDL_WINDOWS},
      {L"userprofile", CSIDL_PROFILE},
      {L"appdata", CSIDL_APPDATA},
      {L"commonappdata", CSIDL_COMMON_APPDATA},
      {L"localappdata", CSIDL_LOCAL_APPDATA},
      {L"programdata", CSIDL_COMMON_APPDATA},
      {L"allusersprofile", CSIDL_COMMON_APPDATA},
      {L"desktop", CSIDL_DESKTOP},
      {L"commondesktop", CSIDL_COMMON_DESKTOPDIRECTORY},
      {L"mydocuments", CSIDL_PERSONAL},
      {L"commondocuments", CSIDL_COMMON_DOCUMENTS},
      {L"startmenu", CSIDL_STARTMENU},
      {L"commonstartmenu", CSIDL_COMMON_STARTMENU},
      {L"mymusic", CSIDL_MYMUSIC},
      {L"commonmusic", CSIDL_COMMON_MUSIC},
      {L"myvideo", CSIDL_MYVIDEO},
      {L"commonvideo", CSIDL_COMMON_VIDEO},
      {L"mypictures", CSIDL_MYPICTURES},
      {L"commonpictures", CSIDL_COMMON_PICTURES},
  };
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// "%name%" through the environment; false when the lookup fails.
bool ExpandEnvironmentName(const std::wstring& name, std::wstring& expanded) {
  const std::wstring macro = L"%" + name + L"%";
  std::vector<wchar_t> buffer(1024);
  DWORD n = ExpandEnvironmentStringsW(macro.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n > buffer.size()) {
    buffer.resize(n);
    n = ExpandEnvironmentStringsW(macro.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (n == 0 || n > buffer.size()) return false;
  expanded.assign(buffer.data());
  ToLongPath(expanded);  // a failed conversion leaves the text as it is
  return true;
}

}  // namespace

unsigned long ToLongPath(std::wstring& path) {
  // No file system has a name longer than 255 characters, so no such path can be converted;
  // say so without asking: Wine 8's GetLongPathNameW crashes on a component of about a
  // thousand characters, where Windows simply fails.
  size_t component = 0;
  for (wchar_t c : path) {
    component = (c == L'\\' || c == L'/') ? 0 : component + 1;
    if (component > 255) return ERROR_FILENAME_EXCED_RANGE;
  }
  std::vector<wchar_t> buffer(path.size() + 1 > MAX_PATH ? path.size() + 1 : MAX_PATH);
  DWORD n = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0) return GetLastError();
  if (n >= buffer.size()) {
    // Too long for the buffer: retry with room, through the "\\?\" form beyond MAX_PATH.
    std::wstring source = path;
    if (source.compare(0, 2, L"\\\\") != 0) source = L"\\\\?\\" + source;
    buffer.resize(2 * n + 8);
    n = GetLongPathNameW(source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return GetLastError();
  }
  path.assign(buffer.data(), n);
  return 0;
}

bool ExpandPathMacros(const std::wstring& input, std::wstring& output) {
  output.clear();
  if (input.empty()) return false;
  const std::map<std::wstring, int> table = MacroTable();
  const std::wstring text = Lower(input);
  std::wstring result;
  size_t at = 0;
  for (;;) {
    const size_t open = text.find(L'%', at);
    if (open == std::wstring::npos) {
      result += text.substr(at);
      break;
    }
    result += text.substr(at, open - at);
    if (open + 1 < text.size() && text[open + 1] == L'%') {
      result += L'%';
      at = open + 2;
      continue;
    }
    const size_t close = text.find(L'%', open + 1);
    if (close == std::wstring::npos) {
      result += text.substr(open);
      break;
    }
    const std::wstring name = text.substr(open + 1, close - open - 1);
    auto macro = table.find(name);
    if (macro != table.end()) {
      wchar_t folder[MAX_PATH];
      if (SHGetFolderPathW(nullptr, macro->second, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
        return false;
      }
      result += Lower(folder);
    } else {
      std::wstring expanded;
      if (!ExpandEnvironmentName(name, expanded)) return false;
      result += expanded;
    }
    at = close + 1;
  }
  output = result;
  return true;
}

}  // namespace palisk
