// DLL events and their report file: the record format, the cipher, the size cap, concurrent
// writers, the callback queue, and the decoder's reading of what was written.
#include "dllprotect/dll_event.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dllprotect/event_queue.h"
#include "support/test_support.h"

namespace {

using dllprotect::DllEventDump;
using dllprotect::DllProtectInfo;
using testing_support::ReadBinaryFile;
using testing_support::ScopedTempFolder;

DllProtectInfo Event(const std::string& name, const std::string& result = "VULNERABLE_PATH") {
  DllProtectInfo e;
  e.requestedName = name;
  e.resolvedPath = "C:\\Users\\u\\Downloads\\" + name;
  e.result = result;
  e.hook = "LoadLibraryExW";
  e.flags = "0x0";
  e.callerModule = "palisk.exe";
  e.callerOffset = "0x1a2b";
  e.error = "";
  return e;
}

TEST(DllEventRecord, ThirteenBytesArePaddedToSixteen) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\record.bin";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_TRUE(DllEventDump::DumpEventToFile(file, "a|b|c|d|e|f|g"));  // 13 bytes
  EXPECT_FALSE(DllEventDump::DumpEventToFile(file, "")) << "an empty text cannot be enciphered";
  CloseHandle(file);
  const std::string bytes = ReadBinaryFile(path);
  ASSERT_EQ(4u + 16u, bytes.size());
  EXPECT_EQ(std::string("\x10\0\0\0", 4), bytes.substr(0, 4));
  std::string text;
  ASSERT_TRUE(dllprotect::DecipherReportText(reinterpret_cast<const uint8_t*>(bytes.data() + 4), 16, text));
  EXPECT_EQ("a|b|c|d|e|f|g   ", text);
}

TEST(DllEventRecord, CipherChainsItsBlocks) {
  const std::string twice = "same8by.same8by.";
  const std::vector<uint8_t> cipher = dllprotect::EncipherReportText(twice);
  ASSERT_EQ(16u, cipher.size());
  EXPECT_NE(std::vector<uint8_t>(cipher.begin(), cipher.begin() + 8), std::vector<uint8_t>(cipher.begin() + 8, cipher.end()))
      << "CBC: equal plaintext blocks encipher differently";
  EXPECT_NE(std::vector<uint8_t>(twice.begin(), twice.begin() + 8), std::vector<uint8_t>(cipher.begin(), cipher.begin() + 8));
  std::string back;
  ASSERT_TRUE(dllprotect::DecipherReportText(cipher.data(), cipher.size(), back));
  EXPECT_EQ(twice, back);
  EXPECT_FALSE(dllprotect::DecipherReportText(cipher.data(), 12, back));
}

TEST(DllEventReport, EventsReadBackAsWritten) {
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"C:\\dl\\setup[x].exe");
  EXPECT_EQ(folder.Path() + L"\\dllReport.setup[x].exe.V1", dump.ReportPath());
  DllProtectInfo recursion = Event("evil.dll", "DLL_BLOCKED");
  recursion.error = "loaded dlls: a.dll,b.dll";
  ASSERT_TRUE(dump.Dump(Event("plain.dll")));
  ASSERT_TRUE(dump.Dump(recursion));
  const dllprotect::ReportContent content = dllprotect::ReadReport(ReadBinaryFile(dump.ReportPath()));
  EXPECT_EQ("", content.error);
  ASSERT_EQ(2u, content.events.size());
  EXPECT_EQ(dllprotect::JoinFields(Event("plain.dll")), dllprotect::JoinFields(content.events[0]));
  EXPECT_EQ(dllprotect::JoinFields(recursion), dllprotect::JoinFields(content.events[1]));
}

TEST(DllEventReport, SeparatorsPercentsAndBlanksInFieldsRoundTrip) {
  // A caller-supplied name cannot shift the fields that follow it.
  DllProtectInfo forged = Event("x.dll|C:\\Windows\\x.dll|SUCCESS|100% ");
  forged.error = "ends in blanks  ";
  const std::string joined = dllprotect::JoinFields(forged);
  EXPECT_EQ(7, std::count(joined.begin(), joined.end(), '|')) << joined;
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"palisk.exe");
  ASSERT_TRUE(dump.Dump(forged));
  const dllprotect::ReportContent content = dllprotect::ReadReport(ReadBinaryFile(dump.ReportPath()));
  EXPECT_EQ("", content.error);
  ASSERT_EQ(1u, content.events.size());
  EXPECT_EQ(forged.requestedName, content.events[0].requestedName);
  EXPECT_EQ("VULNERABLE_PATH", content.events[0].result);
  EXPECT_EQ("ends in blanks  ", content.events[0].error) << "real trailing blanks are no padding";
  DllProtectInfo read;
  EXPECT_FALSE(dllprotect::SplitFields("a|b|c|d|e|f|g|h|i", read)) << "nine fields";
  EXPECT_FALSE(dllprotect::SplitFields("a|b|c|d|e|f|g|%zz", read)) << "a broken escape";
}

TEST(DllEventReport, OnlyABusyFileIsWaitedFor) {
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"palisk.exe");
  int attempts = 0;
  // Another user's file would answer ERROR_ACCESS_DENIED; so does a folder in the file's place.
  ASSERT_TRUE(CreateDirectoryW(dump.ReportPath().c_str(), nullptr));
  EXPECT_EQ(INVALID_HANDLE_VALUE, DllEventDump::OpenReportFile(dump.ReportPath(), attempts));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(1, attempts) << "given up at once";
  EXPECT_FALSE(dump.Dump(Event("x.dll")));
  RemoveDirectoryW(dump.ReportPath().c_str());
  HANDLE busy = CreateFileW(dump.ReportPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, busy);
  EXPECT_EQ(INVALID_HANDLE_VALUE, DllEventDump::OpenReportFile(dump.ReportPath(), attempts));
  EXPECT_EQ(DllEventDump::kOpenTries, attempts) << "a writer that holds the file is waited for";
  CloseHandle(busy);
}

TEST(DllEventReport, AReportFolderThatIsALinkIsNotWrittenTo) {
  ScopedTempFolder folder;
  const std::wstring real = folder.Path() + L"\\real", link = folder.Path() + L"\\link";
  ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
  if (!CreateSymbolicLinkW(link.c_str(), real.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)) {
    GTEST_SKIP() << "no directory links here: " << GetLastError();
  }
  ASSERT_NE(0u, GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  DllEventDump dump(link, L"palisk.exe");
  EXPECT_FALSE(dump.Dump(Event("x.dll")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((real + L"\\dllReport.palisk.exe.V1").c_str()));
  RemoveDirectoryW(link.c_str());
}

TEST(DllEventReport, OversizedFileIsEmptiedFirst) {
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"palisk.exe");
  {
    HANDLE file = CreateFileW(dump.ReportPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = 11ll << 20;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
  }
  ASSERT_TRUE(dump.Dump(Event("x.dll")));
  const dllprotect::ReportContent content = dllprotect::ReadReport(ReadBinaryFile(dump.ReportPath()));
  EXPECT_EQ("", content.error);
  EXPECT_EQ(1u, content.events.size()) << "only the new record";
}

TEST(DllEventReport, NoFolderMeansNothingWritten) {
  ScopedTempFolder folder;
  const std::wstring missing = folder.Path() + L"\\missing";
  DllEventDump dump(missing, L"palisk.exe");
  EXPECT_FALSE(dump.Dump(Event("x.dll")));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str())) << "and no folder made";
  DllEventDump none(L"", L"palisk.exe");
  EXPECT_FALSE(none.Dump(Event("x.dll")));
}

TEST(DllEventReport, ConcurrentWritersAppendWholeRecords) {
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"palisk.exe");
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        if (!dump.Dump(Event("t" + std::to_string(t) + "-" + std::to_string(i) + ".dll"))) ++failed;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, failed.load());
  const dllprotect::ReportContent content = dllprotect::ReadReport(ReadBinaryFile(dump.ReportPath()));
  EXPECT_EQ("", content.error);
  EXPECT_EQ(200u, content.events.size());
}

TEST(DllEventReport, TruncatedOrForeignFilesAreReportedNotMisread) {
  ScopedTempFolder folder;
  DllEventDump dump(folder.Path(), L"palisk.exe");
  ASSERT_TRUE(dump.Dump(Event("x.dll")));
  const std::string bytes = ReadBinaryFile(dump.ReportPath());
  EXPECT_NE("", dllprotect::ReadReport(bytes.substr(0, bytes.size() - 3)).error);
  EXPECT_NE("", dllprotect::ReadReport(bytes.substr(0, 2)).error);
  EXPECT_NE("", dllprotect::ReadReport(std::string("\x05\0\0\0" "abcde", 9)).error) << "no multiple of 8";
  EXPECT_TRUE(dllprotect::ReadReport("").events.empty());
}

struct Collected {
  std::vector<std::string> names;
};
void Collect(void* user, const DllProtectInfo& event) {
  static_cast<Collected*>(user)->names.push_back(event.requestedName);
}

TEST(DllEventQueue, CallbackGetsEveryEventInArrivalOrder) {
  Collected collected;
  dllprotect::EventsCbkDumper consumer(&Collect, &collected);
  {
    dllprotect::DllEventQueue queue(consumer);
    for (int i = 0; i < 100; ++i) queue.Post(Event(std::to_string(i)));
    queue.Stop();
    queue.Post(Event("after"));  // dropped: the queue has stopped
  }
  ASSERT_EQ(100u, collected.names.size());
  for (int i = 0; i < 100; ++i) EXPECT_EQ(std::to_string(i), collected.names[i]);
}

}  // namespace
