// The protection's tracer: its settings file, the scrambling and its cancelling key, the file
// sink's banner and lines, and silence without a settings file.
#include "logging/debug_trace.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using dbgtrace::Settings;
using dbgtrace::Tracer;
using testing_support::ReadBinaryFile;
using testing_support::ScopedTempFolder;
using testing_support::WriteTextFile;

Settings FromFile(const std::string& text, bool* found = nullptr) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\dbg_trace.ini";
  WriteTextFile(path, text);
  Settings settings;
  const bool read = dbgtrace::ReadSettingsFile(path, settings);
  if (found != nullptr) *found = read;
  return settings;
}

TEST(DebugTraceSettings, LevelAndKeyLines) {
  bool found = false;
  Settings s = FromFile("DLLPROTECT=3\r\n", &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(3u, s.level);
  EXPECT_EQ(dbgtrace::kInitialKey, s.key);
  s = FromFile("*=2\nkey=QVRK\n");
  EXPECT_EQ(2u, s.level);
  EXPECT_EQ(0u, s.key) << "the built-in key cancelled exactly: clear text";
  s = FromFile("key=QVRK\nkey=ABCD\n");
  EXPECT_EQ(0u, s.key) << "a key of 0 stays 0";
  s = FromFile("dllprotect=6\nkey=ABCD\n");
  EXPECT_EQ(6u, s.level) << "names compared without case";
  EXPECT_EQ(dbgtrace::kInitialKey ^ ('A' | 'B' << 8 | 'C' << 16 | uint32_t{'D'} << 24), s.key);
  Settings none;
  EXPECT_FALSE(dbgtrace::ReadSettingsFile(L"C:\\no\\such\\dbg_trace.ini", none));
  EXPECT_EQ(0u, none.level);
}

TEST(DebugTraceScramble, OneByteFromTheKeyAndItsOwnInverse) {
  EXPECT_EQ(0x0A, dbgtrace::ScrambleByte(dbgtrace::kInitialKey)) << "'V' + 'Q' - 'K' - 'R'";
  std::string text = "[DLLPROTECT] :: line\n";
  dbgtrace::Scramble(text, dbgtrace::kInitialKey);
  EXPECT_NE("[DLLPROTECT] :: line\n", text);
  EXPECT_EQ("\n", text.substr(text.size() - 1)) << "the line end would scramble to NUL: it stays";
  EXPECT_EQ(std::string::npos, text.find('\0')) << "the debugger would stop at a NUL";
  dbgtrace::Scramble(text, dbgtrace::kInitialKey);
  EXPECT_EQ("[DLLPROTECT] :: line\n", text);
  dbgtrace::Scramble(text, 0);
  EXPECT_EQ("[DLLPROTECT] :: line\n", text) << "key 0: clear";
}

TEST(DebugTraceFile, ScrambledLinesAfterABanner) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\logs\\deep\\DLLPROTECT.log";
  {
    Settings settings;
    settings.level = 3;
    Tracer tracer(settings, path);
    tracer.Write(0, "[DLLPROTECT] :: DllProtectStart() - ", "mode %d of %s", 2, "block");
    tracer.WriteWide(0, L"[DLLPROTECT] :: ", L"wide %ls", L"text");
  }
  std::string text = ReadBinaryFile(path);
  ASSERT_FALSE(text.empty()) << "folders on the way were created";
  EXPECT_EQ(std::string::npos, text.find("mode 2")) << "scrambled on disk";
  dbgtrace::Scramble(text, dbgtrace::kInitialKey);
  EXPECT_EQ(0u, text.find(" ----------------------------- \n>Started at : "));
  EXPECT_NE(std::string::npos, text.find(" x [DLLPROTECT] :: DllProtectStart() - mode 2 of block\n"));
  EXPECT_NE(std::string::npos, text.find(" x [DLLPROTECT] :: wide text\n"));
  EXPECT_NE(std::string::npos, text.find(">Closed  at : ")) << "the closing banner";
}

TEST(DebugTraceScramble, TheEtwSinkIsScrambledLikeTheOthers) {
  std::string line = "[DLLPROTECT] :: line\n";
  const std::wstring wide(line.begin(), line.end());
  EXPECT_EQ(wide, dbgtrace::EtwText(line, wide, 0)) << "clear text when the key is cancelled";
  dbgtrace::Scramble(line, dbgtrace::kInitialKey);
  const std::wstring etw = dbgtrace::EtwText(line, wide, dbgtrace::kInitialKey);
  EXPECT_NE(wide, etw);
  EXPECT_EQ(std::wstring(line.begin(), line.end()).size(), etw.size());
  EXPECT_EQ(static_cast<wchar_t>(static_cast<uint8_t>(line[0])), etw[0]);
}

TEST(DebugTraceFile, ALongLineIsCutButKeepsItsLineEnd) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\DLLPROTECT.log";
  {
    Settings settings;
    settings.level = dbgtrace::kFile;
    settings.key = 0;
    Tracer tracer(settings, path);
    tracer.Write(0, "", "%s", std::string(10000, 'a').c_str());
    tracer.WriteWide(0, L"", L"%ls", std::wstring(10000, L'w').c_str());
    tracer.Write(0, "", "next");
  }
  const std::string text = ReadBinaryFile(path);
  const size_t a = text.find("aaaa"), w = text.find("wwww");
  ASSERT_NE(std::string::npos, a);
  ASSERT_NE(std::string::npos, w);
  const size_t aEnd = text.find('\n', a), wEnd = text.find('\n', w);
  EXPECT_EQ(dbgtrace::kMaxLine, aEnd + 1 - (text.rfind('\n', a) + 1)) << "the longest line, its end included";
  EXPECT_EQ(dbgtrace::kMaxLine, wEnd + 1 - (text.rfind('\n', w) + 1));
  EXPECT_EQ('a', text[aEnd - 1]) << "cut, then the line end";
  EXPECT_EQ('w', text[wEnd - 1]);
  EXPECT_NE(std::string::npos, text.find(" x next\n"));
}

TEST(DebugTraceVersion, TheBannerVersionComesFromTheModulesOwnResource) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  wchar_t path[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(kernel32, path, MAX_PATH));
  // version.dll as the yardstick.
  DWORD ignored = 0;
  std::vector<uint8_t> data(GetFileVersionInfoSizeW(path, &ignored));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &size));
  char expected[48];
  snprintf(expected, sizeof expected, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
           HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
  EXPECT_EQ(expected, dbgtrace::FileVersionOf(kernel32));
  EXPECT_EQ("unknown", dbgtrace::FileVersionOf(GetModuleHandleW(nullptr))) << "this test has no version resource";
}

TEST(DebugTraceFile, CancelledKeyGivesClearTextAndCategoryEightForcesTheFile) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\DLLPROTECT.log";
  {
    Settings settings;
    settings.level = dbgtrace::kDebugger;  // no file sink...
    settings.key = 0;
    Tracer tracer(settings, path);
    tracer.Write(0, "", "not in the file");
    tracer.Write(dbgtrace::kForceFile, "", "forced into the file");  // ...but category 8
  }
  const std::string text = ReadBinaryFile(path);
  EXPECT_EQ(std::string::npos, text.find("not in the file"));
  EXPECT_NE(std::string::npos, text.find("forced into the file\n"));
}

TEST(DebugTraceFile, LevelZeroWritesNothingAnywhere) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\sub\\DLLPROTECT.log";
  {
    Tracer tracer(Settings(), path);
    tracer.Write(dbgtrace::kForceFile, "", "nothing");
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder.Path() + L"\\sub").c_str())) << "no folder made";
  // This test process has no dbg_trace.ini at the drive root or beside it.
  EXPECT_EQ(0u, *dbgtrace::DbgTraceLevel());
  { dbgtrace::Scope scope("[DLLPROTECT] :: Test -> ", "[DLLPROTECT] :: Test <- "); }
}

TEST(DebugTracePath, BesideTheExecutableItGoesBelowItsDrivesProgramData) {
  Settings settings;
  settings.besideExecutable = true;
  const std::wstring path = dbgtrace::TraceFilePath(settings, L"");
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring executable = exe;
  const std::wstring expected = executable.substr(0, 3) + L"ProgramData\\OVLogging\\CstLogs\\" +
                                executable.substr(executable.find_last_of(L'\\') + 1) + L"\\";
  EXPECT_EQ(0u, path.find(expected)) << testing_support::WideToUtf8(path);
  EXPECT_EQ(L"\\DLLPROTECT.log", path.substr(path.size() - 15));
  wchar_t pid[16];
  _snwprintf(pid, 16, L"__%.4d\\", static_cast<int>(GetCurrentProcessId()));
  EXPECT_NE(std::wstring::npos, path.find(pid)) << "the dated folder ends with the process id";
}

}  // namespace
