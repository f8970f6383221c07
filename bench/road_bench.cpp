// Pieces of the whole road, timed one by one for bench/run-road-bench.py:
//   road_bench.exe verify <kit.cat> <file>            the program's own verifier: the catalog
//                                                     first (not timed), then the file
//   road_bench.exe bare-many <url-prefix> <count> <folder>
//                                                     <count> bare GETs of <url-prefix>NNN.bin
//                                                     over one keep-alive connection
//   road_bench.exe kit-file <kit.cat url> <file url> <folder>
//                                                     the downloader fetches the catalog (not
//                                                     timed), then the file twice, alternately:
//                                                     hashed behind the writer as it lands, and
//                                                     hashed after it landed, as a whole
// Each prints one JSON line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "bare_winhttp.h"
#include "installer/palisk/filedownloader.h"
#include "installer/palisk/fileverifier.h"

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int Verify(const std::wstring& catalog, const std::wstring& file) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CFileVerifier verifier;
  const bool catalogLoaded = verifier.ValidateFile(catalog);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  const bool valid = catalogLoaded && verifier.ValidateFile(file);
  QueryPerformanceCounter(&end);
  std::printf("{\"mode\": \"verify\", \"catalog\": %d, \"valid\": %d, \"seconds\": %.4f}\n", catalogLoaded ? 1 : 0,
              valid ? 1 : 0, Seconds(start, end));
  CoUninitialize();
  return valid ? 0 : 1;
}

int BareMany(const std::wstring& prefix, int count, const std::wstring& folder) {
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  BareHttpConnection connection(prefix);
  uint32_t failures = 0;
  for (int i = 0; i < count; ++i) {
    wchar_t name[16];
    _snwprintf(name, 16, L"%03d.bin", i);
    if (connection.Get(prefix + name, folder + L"\\" + name) != 0) ++failures;
  }
  QueryPerformanceCounter(&end);
  std::printf("{\"mode\": \"bare-many\", \"files\": %d, \"failures\": %u, \"seconds\": %.4f}\n", count, failures,
              Seconds(start, end));
  return failures == 0 ? 0 : 1;
}

int KitFile(const std::wstring& catalogUrl, const std::wstring& fileUrl, const std::wstring& folder) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  CFileDownloader downloader;
  CFileVerifier after;
  const std::wstring catalog = folder + L"\\kit.cat";
  const std::wstring file = folder + L"\\x64\\" + fileUrl.substr(fileUrl.find_last_of(L'/') + 1);
  bool ok = downloader.downloadSinglefile(catalogUrl.c_str(), catalog.c_str(), 1, L"") == 0 && after.ValidateFile(catalog);
  LARGE_INTEGER start, middle, end;
  QueryPerformanceCounter(&start);
  ok = ok && downloader.downloadSinglefile(fileUrl.c_str(), file.c_str(), 1, L"") == 0;
  downloader.ReleaseHeldFile(file);
  QueryPerformanceCounter(&middle);
  ok = ok && downloader.downloadSinglefile(fileUrl.c_str(), file.c_str(), 0, L"") == 0;
  downloader.ReleaseHeldFile(file);
  ok = ok && after.ValidateFile(file);
  QueryPerformanceCounter(&end);
  std::printf("{\"mode\": \"kit-file\", \"valid\": %d, \"behind\": %.4f, \"after\": %.4f}\n", ok ? 1 : 0,
              Seconds(start, middle), Seconds(middle, end));
  CoUninitialize();
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"verify" && argc == 4) return Verify(argv[2], argv[3]);
  if (mode == L"kit-file" && argc == 5) return KitFile(argv[2], argv[3], argv[4]);
  if (mode == L"bare-many" && argc == 5) return BareMany(argv[2], _wtoi(argv[3]), argv[4]);
  std::fprintf(stderr, "usage: road_bench verify <kit.cat> <file> | bare-many <url-prefix> <count> <folder>\n");
  return 2;
}
