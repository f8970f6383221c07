// binlog_decode: turns a Palisk run log (".bin" below %ProgramData%\ovroveveduzodi) into
// readable text or JSON.
//   binlog_decode [--json] <file.bin>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "binlog_reader.h"

int main(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: binlog_decode [--json] <file.bin>\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "binlog_decode: cannot open %s\n", path);
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const binlog::ReadResult result = binlog::Parse(bytes);
  if (json) {
    std::fputs(binlog::ToJson(result.records).c_str(), stdout);
  } else {
    for (const binlog::Record& record : result.records) std::printf("%s\n", binlog::ToText(record).c_str());
  }
  if (!result.error.empty()) {
    std::fprintf(stderr, "binlog_decode: %s\n", result.error.c_str());
    return 1;
  }
  return 0;
}
