// A stand-in for a management agent or wrapper: it starts a program and hands its exit code
// on, while its own command line carries whatever the test puts there (e.g. "/ovparams ...").
//   test_agent.exe --run <program> [--args "<arguments>"] [--report <file>] [--temp <folder>]
//                  [anything else]
// The report file gets "<pid> <main thread id> <exit code> <peak working set in bytes>" (the
// last read once the program has ended, for the benchmarks). --temp sets %TEMP% and %TMP% of
// the program (a scratch working area per test).
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int wmain() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::wstring program, arguments, report, temp;
  for (int i = 1; argv != nullptr && i + 1 < count; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--run") program = argv[++i];
    else if (option == L"--args") arguments = argv[++i];
    else if (option == L"--report") report = argv[++i];
    else if (option == L"--temp") temp = argv[++i];
  }
  if (program.empty()) {
    std::fprintf(stderr, "test_agent: --run <program> is required\n");
    return 2;
  }
  if (!temp.empty()) {
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    SetEnvironmentVariableW(L"TMP", temp.c_str());
  }
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "test_agent: cannot start the program (%lu)\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  PROCESS_MEMORY_COUNTERS memory = {};
  GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
  if (!report.empty()) {
    FILE* out = _wfopen(report.c_str(), L"w");
    if (out != nullptr) {
      std::fprintf(out, "%lu %lu %lu %llu\n", process.dwProcessId, process.dwThreadId, exitCode,
                   static_cast<unsigned long long>(memory.PeakWorkingSetSize));
      std::fclose(out);
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
