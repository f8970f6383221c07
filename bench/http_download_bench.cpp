// Downloads one URL to disk and prints the rate and the process's peak working set.
//   http_download_bench.exe wrapper <url> <file>   through CHypraWrapper and hypra.dll
//   http_download_bench.exe winhttp <url> <file>   a bare WinHTTP read loop (the yardstick)
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bare_winhttp.h"
#include "libheaders/hyprawrapper.h"


int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: http_download_bench wrapper|winhttp <url> <file>\n");
    return 2;
  }
  const std::wstring mode = argv[1];
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  uint32_t result;
  if (mode == L"wrapper") {
    CHypraWrapper wrapper;
    wrapper.OverrideDiscoveredProxies(palisk::ProxyRecord(), palisk::ProxyRecord());
    QueryPerformanceCounter(&start);
    result = wrapper.SendRequest(argv[2], argv[3], nullptr, L"");
    QueryPerformanceCounter(&end);
  } else {
    QueryPerformanceCounter(&start);
    BareHttpConnection connection(argv[2]);
    result = connection.Get(argv[2], argv[3]);
    QueryPerformanceCounter(&end);
  }
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  GetFileAttributesExW(argv[3], GetFileExInfoStandard, &attributes);
  const double bytes = static_cast<double>(attributes.nFileSizeLow) + 4294967296.0 * attributes.nFileSizeHigh;
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
  PROCESS_MEMORY_COUNTERS memory = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  std::printf("{\"mode\": \"%ls\", \"result\": %u, \"bytes\": %.0f, \"seconds\": %.3f, \"MBps\": %.1f, "
              "\"peakWorkingSetMiB\": %.1f}\n",
              mode.c_str(), result, bytes, seconds, bytes / seconds / 1048576.0, memory.PeakWorkingSetSize / 1048576.0);
  return result == 0 ? 0 : 1;
}
