// Turns a scrambled DLL protection trace (DLLPROTECT.log, or captured debugger output) back
// into text, for support engineers.
//   dbgtrace_unscramble.exe [--key=XXXX] <trace file>
// --key gives the "key" line of the dbg_trace.ini that wrote the trace, if it had one.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "logging/debug_trace.h"

int wmain(int argc, wchar_t** argv) {
  uint32_t key = dbgtrace::kInitialKey;
  const wchar_t* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (wcsncmp(argv[i], L"--key=", 6) == 0) {
      uint32_t bytes = 0;
      for (int b = 0; b < 4 && argv[i][6 + b] != 0; ++b) bytes |= static_cast<uint32_t>(argv[i][6 + b] & 0xFF) << (8 * b);
      key ^= bytes;
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: dbgtrace_unscramble [--key=XXXX] <trace file>\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %ls\n", path);
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  dbgtrace::Scramble(text, key);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
