// A program that protects itself as palisk.exe does, then loads what its command line names and
// writes what happened to a result file, one line per step:
//   dllprotect_probe.exe <result file> [start <hex options>] <command>...
// Commands: load <path>, loada <path> (LoadLibraryA, in the ANSI code page), loadex <path>
// <hex flags>, loadkb <path> (kernelbase's own LoadLibraryW, as other system DLLs call it),
// section <path> (maps the file as an image section through NtCreateSection), path (the PATH
// variable), cd <folder> (the current folder), setdlldir <folder> (SetDllDirectoryW; "" for none). Without "start", DllProtectSetup decides from the environment and IFEO, as in palisk.
#include <windows.h>

#include <cstdio>
#include <string>

#include "dllprotect/dllprotect_setup.h"
#include "dllprotect/protection.h"
#include "framework/utf8.h"

namespace {

using NtCreateSectionFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, PVOID, PLARGE_INTEGER, ULONG, ULONG, HANDLE);

class ResultFile {
 public:
  explicit ResultFile(const wchar_t* path) : m_file(_wfopen(path, L"wb")) {}
  ~ResultFile() {
    if (m_file != nullptr) fclose(m_file);
  }
  void Line(const std::string& text) {
    if (m_file == nullptr) return;
    fputs(text.c_str(), m_file);
    fputc('\n', m_file);
    fflush(m_file);
  }

 private:
  FILE* m_file;
};

std::string Ansi(const std::wstring& text) {
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int length = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, &ansi[0], length, nullptr, nullptr);
  ansi.resize(ansi.size() - 1);
  return ansi;
}

std::string LoadOutcome(HMODULE module) {
  if (module != nullptr) return "loaded";
  return "refused " + std::to_string(GetLastError());
}

// An image section of the file, created the way the loader creates one.
std::string MapImageSection(const std::wstring& path) {
  auto create = reinterpret_cast<NtCreateSectionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSection")));
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "no file " + std::to_string(GetLastError());
  HANDLE section = nullptr;
  const LONG status = create(&section, SECTION_MAP_EXECUTE | SECTION_MAP_READ | SECTION_QUERY, nullptr, nullptr,
                             PAGE_EXECUTE, SEC_IMAGE, file);
  if (section != nullptr && status == 0) CloseHandle(section);
  CloseHandle(file);
  char text[32];
  snprintf(text, sizeof text, "status 0x%lx", static_cast<unsigned long>(status));
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  int next = 2;
  bool direct = argc > 3 && std::wstring(argv[2]) == L"start";
  // Started directly or decided as palisk decides; set up before anything else either way.
  bool started = false;
  if (direct) {
    const uint32_t options = wcstoul(argv[3], nullptr, 16);
    dllprotect::DllProtectStart(options, nullptr);
    started = true;
    next = 4;
  }
  const dllprotect::DllProtectSetup* setup = direct ? nullptr : new dllprotect::DllProtectSetup();
  if (setup != nullptr) started = setup->Started();

  ResultFile out(argv[1]);
  const dllprotect::ProtectionState& state = dllprotect::Protection();
  char head[160];
  snprintf(head, sizeof head, "started %d active %d options 0x%x", started ? 1 : 0, state.active ? 1 : 0,
           static_cast<unsigned>(state.options));
  out.Line(head);
  out.Line("process " + ov::ToUtf8(state.processName));
  for (int i = next; i < argc; ++i) {
    const std::wstring command = argv[i];
    const std::wstring argument = i + 1 < argc ? argv[i + 1] : L"";
    if (command == L"load") {
      out.Line("load " + LoadOutcome(LoadLibraryW(argument.c_str())));
      ++i;
    } else if (command == L"loada") {
      out.Line("loada " + LoadOutcome(LoadLibraryA(Ansi(argument).c_str())));
      ++i;
    } else if (command == L"loadkb") {
      using LoadLibraryWFn = HMODULE(WINAPI*)(LPCWSTR);
      auto load = reinterpret_cast<LoadLibraryWFn>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "LoadLibraryW")));
      out.Line("loadkb " + (load == nullptr ? std::string("no kernelbase") : LoadOutcome(load(argument.c_str()))));
      ++i;
    } else if (command == L"cd") {
      out.Line(SetCurrentDirectoryW(argument.c_str()) ? "cd" : "cd failed");
      ++i;
    } else if (command == L"setdlldir") {
      out.Line(SetDllDirectoryW(argument.c_str()) ? "setdlldir" : "setdlldir failed");
      ++i;
    } else if (command == L"loadex" && i + 2 < argc) {
      out.Line("loadex " + LoadOutcome(LoadLibraryExW(argument.c_str(), nullptr, wcstoul(argv[i + 2], nullptr, 16))));
      i += 2;
    } else if (command == L"section") {
      out.Line("section " + MapImageSection(argument));
      ++i;
    } else if (command == L"path") {
      wchar_t path[4096] = L"";
      GetEnvironmentVariableW(L"PATH", path, 4096);
      out.Line("path " + ov::ToUtf8(path));
    } else {
      out.Line("unknown " + ov::ToUtf8(command));
    }
  }
  if (started) dllprotect::DllProtectEnd();
  out.Line(state.active ? "still active" : "ended");
  delete setup;
  return 0;
}
