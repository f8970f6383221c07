// Downloads one URL to disk and prints the rate and the process's peak working set.
//   http_download_bench.exe wrapper <url> <file>   through CHypraWrapper and hypra.dll
//   http_download_bench.exe winhttp <url> <file>   a bare WinHTTP read loop (the yardstick)
#include <windows.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/scoped_handle.h"
#include "framework/scoped_winhttp.h"
#include "libheaders/hyprawrapper.h"

namespace {

uint32_t BareWinHttp(const std::wstring& url, const std::wstring& file) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256], path[2048];
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return GetLastError();
  ov::ScopedInternet session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
  ov::ScopedInternet connection(WinHttpConnect(session.Get(), host, parts.nPort, 0));
  ov::ScopedInternet request(WinHttpOpenRequest(connection.Get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request.IsValid() ||
      !WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    return GetLastError();
  }
  ov::ScopedHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::vector<char> buffer(64 * 1024);
  DWORD read = 0;
  while (WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read > 0) {
    DWORD written = 0;
    WriteFile(out.Get(), buffer.data(), read, &written, nullptr);
  }
  return 0;
}

}  // namespace

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
    result = BareWinHttp(argv[2], argv[3]);
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
