// Prints the events of a DLL protection report file ("dllReport.<process>.V1"), one line
// each, fields separated by " | ", for support engineers.
//   dllreport_decode.exe <report file>
// Exit status 1 when the file cannot be read or is truncated (after printing what it could).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "dllprotect/dll_event.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dllreport_decode <report file>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %ls\n", argv[1]);
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const dllprotect::ReportContent content = dllprotect::ReadReport(bytes);
  for (const dllprotect::DllProtectInfo& e : content.events) {
    std::printf("%s | %s | %s | %s | %s | %s | %s | %s\n", e.result.c_str(), e.hook.c_str(), e.requestedName.c_str(),
                e.resolvedPath.c_str(), e.flags.c_str(), e.callerModule.c_str(), e.callerOffset.c_str(),
                e.error.c_str());
  }
  if (!content.error.empty()) {
    std::fprintf(stderr, "%s\n", content.error.c_str());
    return 1;
  }
  return 0;
}
