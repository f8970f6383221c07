// The log.dll stand-in on its own: settings, line format, level filter, many threads.
#include <windows.h>

#include <cstdarg>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "outside/logdll/log_settings.h"
#include "outside/logdll/log_writer.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyFileTo;
using testing_support::OutsideFolder;
using testing_support::ReadTextFile;
using testing_support::ScopedTempFolder;
using testing_support::WideToUtf8;
using testing_support::WriteTextFile;

using WriteFn = int (*)(int, const uint32_t*, HMODULE, const wchar_t*, const wchar_t*, va_list);

class LogDll : public testing::Test {
 protected:
  void Load(const std::string& ini) {
    ASSERT_TRUE(CopyFileTo(OutsideFolder() + L"\\log.dll", folder_.Path() + L"\\log.dll"));
    if (!ini.empty()) {
      ASSERT_TRUE(WriteTextFile(folder_.Path() + L"\\log.ini", ini));
    }
    module_.Set(LoadLibraryW((folder_.Path() + L"\\log.dll").c_str()));
    ASSERT_TRUE(module_.IsValid());
    write_ = ov::GetProc<WriteFn>(module_.Get(), "LogWrite");
    ov::GetProc<int (*)()>(module_.Get(), "LogInit")();
  }
  void TearDown() override {
    if (module_.IsValid()) ov::GetProc<int (*)()>(module_.Get(), "LogDeinit")();
  }
  int Write(int indent, uint32_t level, const wchar_t* scope, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int rc = write_(indent, &level, module_.Get(), scope, format, args);
    va_end(args);
    return rc;
  }
  std::string Ini(const char* extra) {
    return "[log]\r\nfolder=" + WideToUtf8(folder_.Path()) + "\\logs\r\n" + extra;
  }
  std::wstring Log() { return ReadTextFile(folder_.Path() + L"\\logs\\binding_test.log"); }

  ScopedTempFolder folder_;
  ov::ScopedModule module_;
  WriteFn write_ = nullptr;
};

TEST_F(LogDll, WritesNothingWithoutASettingsFile) {
  Load("");
  EXPECT_EQ(S_FALSE, Write(0, 4, L"Scope", L"not written"));
  EXPECT_FALSE(testing_support::FileExists(folder_.Path() + L"\\logs"));
}

TEST_F(LogDll, LevelThresholdDropsDetail) {
  Load(Ini("level=info\r\n"));
  EXPECT_EQ(S_OK, Write(0, 4, L"S", L"error line"));
  EXPECT_EQ(S_OK, Write(0, 16, L"S", L"info line"));
  EXPECT_EQ(S_FALSE, Write(0, 32, L"S", L"trace line"));
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"S: error line"));
  EXPECT_NE(std::wstring::npos, log.find(L"S: info line"));
  EXPECT_EQ(std::wstring::npos, log.find(L"trace line"));
}

TEST_F(LogDll, SwitchedOffByTheSettingsFile) {
  Load(Ini("enabled=0\r\n"));
  EXPECT_EQ(S_FALSE, Write(0, 4, L"S", L"off"));
  EXPECT_EQ(L"", Log());
}

TEST_F(LogDll, LinesFromManyThreadsArriveWhole) {
  Load(Ini("level=trace\r\n"));
  const int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kLines; ++i) Write(0, 16, L"Worker", L"thread %d line %d end", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::wstring log = Log();
  size_t lines = 0;
  for (size_t at = 0; (at = log.find(L"\r\n", at)) != std::wstring::npos; at += 2) ++lines;
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), lines);
  for (int t = 0; t < kThreads; ++t) {
    const std::wstring last = L"thread " + std::to_wstring(t) + L" line " +
                              std::to_wstring(kLines - 1) + L" end\r\n";
    EXPECT_NE(std::wstring::npos, log.find(last)) << t;
  }
}

TEST_F(LogDll, IndentationIsPerThread) {
  Load(Ini("level=trace\r\n"));
  Write(+1, 32, L"A", L"-> A()");
  std::thread([this] { Write(0, 16, L"B", L"other thread"); }).join();
  Write(0, 16, L"A", L"inside");
  Write(-1, 32, L"A", L"<- A()");
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"log.dll  B: other thread")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"log.dll    A: inside")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"log.dll  A: <- A()")) << log;
}

TEST(LogDllFormat, LineCarriesTimeIdsLevelModuleAndScope) {
  SYSTEMTIME time = {2026, 12, 2, 8, 18, 5, 9, 7};
  EXPECT_EQ(L"2026-12-08 18:05:09.007 [12:34] ERROR  palisk.exe  Scope::Fn: text",
            logdll::FormatLine(time, 12, 34, 4, L"palisk.exe", 0, L"Scope::Fn", L"text"));
  EXPECT_EQ(L"2026-12-08 18:05:09.007 [1:2] L64    Glossel.dll      S: x",
            logdll::FormatLine(time, 1, 2, 64, L"Glossel.dll", 2, L"S", L"x"));
}

TEST(LogDllSettings, LevelNamesAndNumbers) {
  EXPECT_EQ(4u, logdll::ParseLevel(L"Error", 0));
  EXPECT_EQ(8u, logdll::ParseLevel(L"plugin", 0));
  EXPECT_EQ(16u, logdll::ParseLevel(L"INFO", 0));
  EXPECT_EQ(32u, logdll::ParseLevel(L"trace", 0));
  EXPECT_EQ(100u, logdll::ParseLevel(L"100", 0));
  EXPECT_EQ(16u, logdll::ParseLevel(L"verbose", 16));
  EXPECT_EQ(16u, logdll::ParseLevel(L"12abc", 16));
}

}  // namespace
