// A second local user's process that goes after a kit file Palisk has verified: it waits in
// the scratch %TEMP% of a run until the working folder holds `--after` (a file downloaded
// after `--target`, so the target's download and check are over), then tries again and again
// to open the target for writing (writing "tampered" into it when it can), to rename it (and
// back) and to delete it, until `--until` exists (the installer double's record) or the
// time is up.
//   test_tamperer.exe --temp <folder> --target <name> --after <name> --until <file>
//                     --report <file> [--timeout-ms <n>]
// Names are looked for in "x86" and "x64" below every "ovtempdir*" folder. The report is
// one JSON object: {"rounds": n, "write": {"ok": n, "errors": [codes]}, "rename": ...,
// "delete": ...}, each error code listed once.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

struct Outcome {
  int ok = 0;
  std::set<DWORD> errors;
  void Note(bool succeeded) {
    if (succeeded) ++ok;
    else errors.insert(GetLastError());
  }
  std::string Json() const {
    std::string text = "{\"ok\": " + std::to_string(ok) + ", \"errors\": [";
    for (DWORD error : errors) text += (text.back() == '[' ? "" : ", ") + std::to_string(error);
    return text + "]}";
  }
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The first "<temp>\ovtempdir*\{x86,x64}\<name>" there is, or "".
std::wstring FindInWorkingFolder(const std::wstring& temp, const std::wstring& name) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((temp + L"\\ovtempdir*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring result;
  do {
    for (const wchar_t* arch : {L"x86", L"x64"}) {
      const std::wstring candidate = temp + L"\\" + found.cFileName + L"\\" + arch + L"\\" + name;
      if (result.empty() && Exists(candidate)) result = candidate;
    }
  } while (result.empty() && FindNextFileW(find, &found));
  FindClose(find);
  return result;
}

}  // namespace

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring temp, target, after, until, report;
  DWORD timeoutMs = 60000;
  for (int i = 1; argv != nullptr && i + 1 < count; ++i) {
    const std::wstring option = argv[i];
    const wchar_t* value = argv[++i];
    if (option == L"--temp") temp = value;
    else if (option == L"--target") target = value;
    else if (option == L"--after") after = value;
    else if (option == L"--until") until = value;
    else if (option == L"--report") report = value;
    else if (option == L"--timeout-ms") timeoutMs = static_cast<DWORD>(_wtoi(value));
  }
  if (temp.empty() || target.empty() || after.empty() || until.empty() || report.empty()) {
    std::fprintf(stderr, "test_tamperer: --temp, --target, --after, --until and --report are required\n");
    return 2;
  }
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (FindInWorkingFolder(temp, after).empty() && GetTickCount64() < deadline) Sleep(2);
  const std::wstring path = FindInWorkingFolder(temp, target);

  int rounds = 0;
  Outcome write, rename, remove;
  while (!path.empty() && GetTickCount64() < deadline) {
    ++rounds;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    write.Note(file != INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, "tampered", 8, &written, nullptr);
      SetEndOfFile(file);
      CloseHandle(file);
    }
    const std::wstring aside = path + L".moved";
    const bool moved = MoveFileExW(path.c_str(), aside.c_str(), 0) != FALSE;
    rename.Note(moved);
    if (moved) MoveFileExW(aside.c_str(), path.c_str(), 0);
    remove.Note(DeleteFileW(path.c_str()) != FALSE);
    if (Exists(until)) break;
    Sleep(1);
  }

  FILE* out = _wfopen(report.c_str(), L"w");
  if (out == nullptr) return 3;
  std::fprintf(out, "{\"found\": %s, \"rounds\": %d, \"write\": %s, \"rename\": %s, \"delete\": %s}\n",
               path.empty() ? "false" : "true", rounds, write.Json().c_str(), rename.Json().c_str(),
               remove.Json().c_str());
  std::fclose(out);
  return 0;
}
