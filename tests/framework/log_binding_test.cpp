// The log binding: finding log.dll, the write stub, message sites, call traces, teardown.
// log.dll here is our stand-in, writing real files that the tests read back.
#include "logging/log_binding.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyFileTo;
using testing_support::OutsideFolder;
using testing_support::ReadTextFile;
using testing_support::ScopedTempFolder;
using testing_support::TestBinFolder;
using testing_support::WideToUtf8;
using testing_support::WriteTextFile;

// A copy of the log.dll stand-in in `folder`, writing at every level into `folder`\logs.
std::wstring InstallLogDll(const std::wstring& folder) {
  const std::wstring dll = folder + L"\\log.dll";
  EXPECT_TRUE(CopyFileTo(OutsideFolder() + L"\\log.dll", dll));
  EXPECT_TRUE(WriteTextFile(folder + L"\\log.ini",
                            "[log]\r\nenabled=1\r\nlevel=trace\r\nfolder=" +
                                WideToUtf8(folder) + "\\logs\r\n"));
  return dll;
}

std::wstring LogFileOf(const std::wstring& folder, const wchar_t* exe) {
  return folder + L"\\logs\\" + exe + L".log";
}

TEST(LogBinding, WithoutLogDllEveryEntryIsNullButTheStub) {
  ASSERT_EQ(nullptr, GetModuleHandleW(L"log.dll"));
  ASSERT_FALSE(testing_support::FileExists(TestBinFolder() + L"\\log.dll"));
  logging::CLogDLL binding;
  EXPECT_EQ(nullptr, binding.Module());
  EXPECT_TRUE(binding.WriteIsStub());
  EXPECT_EQ(0, binding.ResolvedEntryCount());
  EXPECT_EQ(logging::kWriteStubResult, binding.Write(0, logging::kLevelInfo, L"scope", L"%d", 1));
}

TEST(LogBinding, MessagesAndTracesWithoutLogDllHaveNoEffect) {
  logging::LogMessage(logging::kLevelError, L"Test::Scope", L"dropped %d", 1);
  { logging::CallTrace trace(L"Test::Traced"); }
  EXPECT_FALSE(logging::IsBound()) << "the trace's handle went with it";
  EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll"));
}

class LoadedElsewhere : public testing::Test {
 protected:
  void SetUp() override {
    dll_ = InstallLogDll(folder_.Make(L"elsewhere"));
    module_.Set(LoadLibraryW(dll_.c_str()));
    ASSERT_TRUE(module_.IsValid());
  }
  void TearDown() override {
    module_.Close();
    EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll")) << "every reference was given back";
  }
  std::wstring Log() { return ReadTextFile(LogFileOf(folder_.Path() + L"\\elsewhere", L"binding_test")); }

  ScopedTempFolder folder_;
  std::wstring dll_;
  ov::ScopedModule module_;
};

TEST_F(LoadedElsewhere, IsTakenByReferenceAndGivenBack) {
  {
    logging::CLogDLL binding;
    EXPECT_EQ(module_.Get(), binding.Module());
    EXPECT_FALSE(binding.WriteIsStub());
    EXPECT_EQ(17, binding.ResolvedEntryCount());
    EXPECT_EQ(0, binding.Write(0, logging::kLevelInfo, L"Test::Bound", L"value %d, text %s", 42,
                               L"\u00e9t\u00e9"));
  }
  // Our reference is the only one left: freeing it must unload the library.
  HMODULE module = module_.Take();
  FreeLibrary(module);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll"));
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"INFO")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"binding_test.exe  Test::Bound: value 42, text \u00e9t\u00e9"))
      << log;
}

TEST_F(LoadedElsewhere, MessageWithoutAHandleIsDroppedAndWithOneIsWritten) {
  logging::LogMessage(logging::kLevelInfo, L"Test::Site", L"nobody holds the binding");
  {
    logging::LogHandle holder;
    logging::LogMessage(logging::kLevelError, L"Test::Site", L"someone holds it: %d", 7);
  }
  EXPECT_FALSE(logging::IsBound());
  const std::wstring log = Log();
  EXPECT_EQ(std::wstring::npos, log.find(L"nobody holds")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"ERROR")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"Test::Site: someone holds it: 7")) << log;
}

TEST_F(LoadedElsewhere, TraceLinesIndentAndCarryTheElapsedTime) {
  {
    logging::CallTrace outer(L"Test::Outer");
    logging::CallTrace inner(L"Test::Inner");
  }
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"TRACE  binding_test.exe  Test::Outer: -> Test::Outer()")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"  Test::Inner: -> Test::Inner()")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"    Test::Inner: <- Test::Inner() [")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"  Test::Outer: <- Test::Outer() [")) << log;
}

DWORD g_ticks[2];
int g_tick = 0;
DWORD WrappingClock() { return g_ticks[g_tick++ % 2]; }

TEST_F(LoadedElsewhere, ElapsedTimeIsRightAcrossACounterWrap) {
  g_ticks[0] = 0xFFFFFFF0u;
  g_ticks[1] = 0x00000010u;
  g_tick = 0;
  logging::CallTrace::SetClockForTesting(&WrappingClock);
  { logging::CallTrace trace(L"Test::Wrap"); }
  logging::CallTrace::SetClockForTesting(nullptr);
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"<- Test::Wrap() [32]")) << log;
}

TEST(CallTrace, LongScopeNamesAreCut) {
  const std::wstring name(300, L'n');
  logging::CallTrace trace(name.c_str());
  EXPECT_EQ(std::wstring(257, L'n') + L"()", trace.DisplayText());
  EXPECT_EQ(std::wstring(259, L'n'), trace.Scope());
  logging::CallTrace exact(std::wstring(257, L'x').c_str());
  EXPECT_EQ(std::wstring(257, L'x') + L"()", exact.DisplayText());
}

class ClientBesideLogDll : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"log.dll"));
    InstallLogDll(folder_.Path());
    ASSERT_TRUE(CopyFileTo(TestBinFolder() + L"\\log_client.dll", folder_.Path() + L"\\log_client.dll"));
    client_.Set(LoadLibraryW((folder_.Path() + L"\\log_client.dll").c_str()));
    ASSERT_TRUE(client_.IsValid());
  }
  template <class Fn>
  Fn Entry(const char* name) {
    return ov::GetProc<Fn>(client_.Get(), name);
  }
  std::wstring Log() { return ReadTextFile(LogFileOf(folder_.Path(), L"binding_test")); }

  ScopedTempFolder folder_;
  ov::ScopedModule client_;
};

TEST_F(ClientBesideLogDll, TraceLoadsAndUnloadsLogDllAroundItself) {
  Entry<void (*)(const wchar_t*)>("ClientTrace")(L"Client::Traced");
  EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll")) << "torn down with the trace's last handle";
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos, log.find(L"log_client.dll  Client::Traced: -> Client::Traced()")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"Client::Traced: <- Client::Traced() [")) << log;
}

TEST_F(ClientBesideLogDll, HolderKeepsTheBindingForMessages) {
  auto message = Entry<void (*)(const wchar_t*)>("ClientMessage");
  auto hold = Entry<void (*)(bool)>("ClientHold");
  message(L"before anyone holds it");
  EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll")) << "a message never builds the binding";
  hold(true);
  EXPECT_NE(nullptr, GetModuleHandleW(L"log.dll"));
  message(L"while held");
  hold(false);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"log.dll"));
  const std::wstring log = Log();
  EXPECT_EQ(std::wstring::npos, log.find(L"before anyone")) << log;
  EXPECT_NE(std::wstring::npos, log.find(L"Client::Message: while held")) << log;
}

TEST_F(ClientBesideLogDll, ServPluginFailuresAreLoggedWithTheirLevelsAndScope) {
  auto hold = Entry<void (*)(bool)>("ClientHold");
  hold(true);
  Entry<void (*)()>("ClientServPluginFailures")();
  hold(false);
  const std::wstring log = Log();
  EXPECT_NE(std::wstring::npos,
            log.find(L"ERROR  log_client.dll  ServPlugin<class ITestGreeter>::GetPlugin: Null component manager"))
      << log;
  EXPECT_NE(std::wstring::npos,
            log.find(L"PLUGIN log_client.dll  ServPlugin<class ITestGreeter>::GetPlugin: "
                     L"Error 1168 getting plugin \"Absent \"plugin\"\""))
      << log;
}

}  // namespace
