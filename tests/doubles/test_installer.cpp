// A stand-in for a kit's installer. It records how it was started and exits with the code the
// test chose. Settings come from "test_installer.ini" beside it ([installer] record=, exit=,
// exit740once=, show=), else from the environment (PALISK_TEST_INSTALLER_RECORD, _EXIT, _740_ONCE).
//   record:      a file that gets one JSON line per start (command line, folder, parent)
//   show:        a file beside the installer whose text the record carries as "shown"
//   exit:        the exit code (decimal, may be negative)
//   exit740once: a marker file; while it does not exist, create it and exit 740
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Setting(const std::wstring& ini, const wchar_t* key, const wchar_t* variable) {
  wchar_t value[2048] = L"";
  if (GetPrivateProfileStringW(L"installer", key, L"", value, 2048, ini.c_str()) > 0) return value;
  if (GetEnvironmentVariableW(variable, value, 2048) > 0) return value;
  return std::wstring();
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

DWORD ParentId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

std::wstring ProcessPath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return std::wstring();
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameExW(process, nullptr, path, MAX_PATH);
  CloseHandle(process);
  return path;
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring ini = self;
  ini = ini.substr(0, ini.find_last_of(L'\\') + 1) + L"test_installer.ini";

  const std::wstring record = Setting(ini, L"record", L"PALISK_TEST_INSTALLER_RECORD");
  const std::wstring marker = Setting(ini, L"exit740once", L"PALISK_TEST_INSTALLER_740_ONCE");
  const std::wstring exitText = Setting(ini, L"exit", L"PALISK_TEST_INSTALLER_EXIT");
  int exitCode = exitText.empty() ? 0 : static_cast<int>(std::wcstol(exitText.c_str(), nullptr, 10));
  if (!marker.empty() && GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    exitCode = 740;  // ERROR_ELEVATION_REQUIRED
  }

  if (!record.empty()) {
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    const DWORD parent = ParentId();
    // What lies beside the installer (the kit's folder): names, as a JSON list.
    std::string siblings = "[";
    std::wstring folderOfSelf = self;
    folderOfSelf = folderOfSelf.substr(0, folderOfSelf.find_last_of(L'\\'));
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folderOfSelf + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (siblings.size() > 1) siblings += ", ";
        siblings += Json(name);
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    siblings += "]";
    // The bytes a kit file holds as the installer reads it.
    std::string shown;
    const std::wstring show = Setting(ini, L"show", L"PALISK_TEST_INSTALLER_SHOW");
    HANDLE shownFile = show.empty() ? INVALID_HANDLE_VALUE
                                    : CreateFileW((folderOfSelf + L"\\" + show).c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (shownFile != INVALID_HANDLE_VALUE) {
      char buffer[4096];
      DWORD read = 0;
      if (ReadFile(shownFile, buffer, sizeof buffer, &read, nullptr)) shown.assign(buffer, read);
      CloseHandle(shownFile);
    }
    const std::string line = "{\"commandLine\": " + Json(GetCommandLineW()) + ", \"folder\": " + Json(folder) +
                             ", \"exe\": " + Json(self) + ", \"parentPid\": " + std::to_string(parent) +
                             ", \"parentPath\": " + Json(ProcessPath(parent)) +
                             ", \"exitCode\": " + std::to_string(exitCode) + ", \"siblings\": " + siblings +
                             ", \"shown\": " + Json(std::wstring(shown.begin(), shown.end())) + "}\n";
    HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  return exitCode;
}
