// The binary event logger: byte-exact records, part files, the joined result.
#include "logging/binary_logger.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "binlog_reader.h"
#include "support/test_support.h"

namespace {

namespace bl = RovEveduzodi::BinaryLogger;
using testing_support::FileExists;
using testing_support::ScopedTempFolder;

constexpr char kLogSource[] = "binary_logger_test.cpp";

using testing_support::ReadBinaryFile;

std::vector<std::wstring> BinFiles(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*.bin").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

uint32_t U32(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8) |
         (static_cast<uint8_t>(bytes[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24);
}

TEST(BinaryLoggerNames, BaseNameLeavesOutEmptyParts) {
  EXPECT_EQ(L"[1.2.3.4].{g}.palisk", bl::ComposeBaseName(L"1.2.3.4", L"{g}", L"palisk"));
  EXPECT_EQ(L"{g}.palisk", bl::ComposeBaseName(L"", L"{g}", L"palisk"));
  EXPECT_EQ(L"[1.2.3.4].{g}", bl::ComposeBaseName(L"1.2.3.4", L"{g}", L""));
  EXPECT_EQ(L"{g}", bl::ComposeBaseName(L"", L"{g}", L""));
  const GUID guid = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  EXPECT_EQ(L"{0123abcd-4567-89ef-fedc-ba9876543210}", bl::GuidText(guid));
}

TEST(BinaryLoggerRecords, StringsAreLengthScrambledBytesAndAPlainZero) {
  bl::RecordBuilder record;
  record.String("abc");
  const std::vector<uint8_t> expected = {3, 0, 0, 0, 'a' ^ '7', 'b' ^ 'E', 'c' ^ '1', 0};
  EXPECT_EQ(expected, record.Payload());

  record.Reset();
  std::string long40(40, 'x');
  record.String(long40);
  ASSERT_EQ(4u + 40u + 1u, record.Payload().size());
  EXPECT_EQ('x' ^ '7', record.Payload()[4 + 32]) << "the key repeats every 32 bytes";
  EXPECT_EQ('x' ^ '1', record.Payload()[4 + 31]);

  record.Reset();
  record.Block({1, 2});
  const std::vector<uint8_t> block = {2, 0, 0, 0, 1 ^ '7', 2 ^ 'E'};
  EXPECT_EQ(block, record.Payload()) << "no terminator after a block";
}

class LoggerInFolder : public testing::Test {
 protected:
  LoggerInFolder() : logger_(folder_.Path() + L"\\ovroveveduzodi") {}
  ScopedTempFolder folder_;
  bl::Logger logger_;
};

TEST_F(LoggerInFolder, MessageFromAnotherThreadLandsInTheSharedPart) {
  logger_.SetNameParts(L"", L"palisk");
  logger_.Start(L"Palisk main thread");
  std::thread([this] { logger_.Log(bl::kNotice, "worker.cpp", 77, L"%d", 5); }).join();
  const std::wstring shared = logger_.Folder() + L"\\" + logger_.BaseName() + L".0.bin";
  ASSERT_TRUE(FileExists(shared));
  const std::string bytes = ReadBinaryFile(shared);

  // Thread record first, then the message: header, level byte, "5", "worker.cpp", line.
  const size_t first = 16 + U32(bytes, 4);
  ASSERT_GT(bytes.size(), first + 16);
  EXPECT_EQ(bl::Tag::kMessage, U32(bytes, first));
  const std::string payload = bytes.substr(first + 16, U32(bytes, first + 4));
  std::string expected;
  expected += static_cast<char>(bl::kNotice);
  expected += std::string("\x01\x00\x00\x00", 4) + static_cast<char>('5' ^ '7') + '\0';
  std::string file = "worker.cpp";
  expected += std::string("\x0a\x00\x00\x00", 4);
  for (size_t i = 0; i < file.size(); ++i) expected += static_cast<char>(file[i] ^ bl::kScrambleKey[i]);
  expected += '\0';
  expected += std::string("\x4d\x00\x00\x00", 4);
  EXPECT_EQ(expected, payload);
  logger_.Finish();
}

TEST_F(LoggerInFolder, FinishJoinsThePartsInOrderAndDeletesThem) {
  logger_.SetNameParts(L"1.0.0.0", L"palisk");
  logger_.Start(L"Palisk main thread");
  logger_.Log(bl::kInfo, kLogSource, 10, L"from main %s", L"w\u00e9de");
  std::thread([this] { logger_.Log(bl::kError, kLogSource, 11, nullptr); }).join();
  if (bl::IEvents* events = logger_.GetThreadEvents()) events->OnExitCode(740);
  logger_.CloseThread();
  const std::wstring result = logger_.Finish();

  const std::vector<std::wstring> files = BinFiles(logger_.Folder());
  ASSERT_EQ(1u, files.size()) << "only the joined file remains";
  EXPECT_EQ(logger_.BaseName() + L".bin", files[0]);
  EXPECT_EQ(0u, logger_.BaseName().find(L"[1.0.0.0].{"));

  const binlog::ReadResult read = binlog::Parse(ReadBinaryFile(result));
  ASSERT_EQ("", read.error);
  std::vector<std::string> kinds;
  for (const binlog::Record& r : read.records) kinds.push_back(r.kind);
  const std::vector<std::string> expected = {"thread-start", "message", "exit-code", "thread-end",
                                             "thread-start", "message", "thread-end"};
  EXPECT_EQ(expected, kinds);
  EXPECT_EQ("Palisk main thread", read.records[0].fields[1].text);
  EXPECT_EQ(GetCurrentThreadId(), read.records[0].fields[0].number);
  EXPECT_EQ("from main w\xC3\xA9" "de", read.records[1].Message());
  EXPECT_EQ(740u, read.records[2].fields[0].number);
  EXPECT_EQ("Unregistered threads logs", read.records[4].fields[1].text);
  EXPECT_EQ("", read.records[5].Message()) << "a null format is an empty message";
  EXPECT_EQ(0, read.records[5].Level());
}

TEST_F(LoggerInFolder, SecondStartReplacesTheThreadsLoggerAndAddsAPart) {
  logger_.SetNameParts(L"", L"");
  logger_.Start(L"first");
  logger_.Start(L"second");
  logger_.Log(bl::kInfo, kLogSource, 1, L"after the second start");
  logger_.CloseThread();
  const binlog::ReadResult read = binlog::Parse(ReadBinaryFile(logger_.Finish()));
  ASSERT_EQ("", read.error);
  std::vector<std::string> names;
  for (const binlog::Record& r : read.records) {
    if (r.kind == "thread-start") names.push_back(r.fields[1].text);
  }
  // Both paths are registered twice; a part is deleted once joined, so its second mention
  // adds nothing. The first logger's records were replaced by the second one's.
  EXPECT_EQ((std::vector<std::string>{"second", "Unregistered threads logs"}), names);
  EXPECT_EQ(1u, BinFiles(logger_.Folder()).size());
}

TEST_F(LoggerInFolder, EveryEventKindRoundTripsThroughTheReader) {
  logger_.SetNameParts(L"", L"kinds");
  logger_.Start(L"main");
  bl::IEvents* e = logger_.GetThreadEvents();
  ASSERT_NE(nullptr, e);
  e->OnProcessInfo({1, "s1", "s2", 2, "s3", "s4"});
  e->OnNumberedText({"s", 7, 9});
  e->OnTaggedText("tagged");
  e->OnBlob({"name", {1, 2, 3}});
  logger_.CloseThread();
  const binlog::ReadResult read = binlog::Parse(ReadBinaryFile(logger_.Finish()));
  ASSERT_EQ("", read.error);
  ASSERT_GE(read.records.size(), 5u);
  const binlog::Record& process = read.records[1];
  EXPECT_EQ("process-info", process.kind);
  EXPECT_EQ(1u, process.fields[0].number);
  EXPECT_EQ(2u, process.fields[1].number) << "written as a, b, s1, s3, s2, s4";
  EXPECT_EQ("s1", process.fields[2].text);
  EXPECT_EQ("s3", process.fields[3].text);
  EXPECT_EQ("s2", process.fields[4].text);
  const binlog::Record& numbered = read.records[2];
  EXPECT_EQ(7u, numbered.fields[0].number);
  EXPECT_EQ("s", numbered.fields[1].text);
  EXPECT_EQ(9u, numbered.fields[2].number);
  EXPECT_EQ(0u, read.records[3].fields[0].number);
  EXPECT_EQ("tagged", read.records[3].fields[2].text);
  EXPECT_EQ(std::string("\x01\x02\x03", 3), read.records[4].fields[1].text);
}

// The record bytes as the file format defines them, built here without the logger's code:
// little-endian words, strings as length + bytes XORed with the key text + a plain 0.
class WireBytes {
 public:
  WireBytes& U32(uint32_t value) {
    for (int i = 0; i < 4; ++i) m_bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return *this;
  }
  WireBytes& Byte(uint8_t value) {
    m_bytes += static_cast<char>(value);
    return *this;
  }
  WireBytes& String(const std::string& text) {
    static const char kKey[] = "7E19C0A4D25B3f87A60C14E9B38D5F21";
    U32(static_cast<uint32_t>(text.size()));
    for (size_t i = 0; i < text.size(); ++i) m_bytes += static_cast<char>(text[i] ^ kKey[i % 32]);
    m_bytes += '\0';
    return *this;
  }
  const std::string& Bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
};

// Tag, payload size, and eight time bytes that the comparison masks.
std::string Record(uint32_t tag, const WireBytes& payload) {
  WireBytes header;
  header.U32(tag).U32(static_cast<uint32_t>(payload.Bytes().size())).U32(0).U32(0);
  return header.Bytes() + payload.Bytes();
}

// The same bytes come out of the i686 product and the x64 build: nothing in a record depends
// on the pointer size, so a log written by either is read by the other's decoder.
TEST(BinaryLoggerWire, RecordsHaveTheSameBytesInEveryFlavour) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\wire.part";
  {
    bl::ThreadLogger logger;
    ASSERT_EQ(0u, logger.Open(path, L"main"));
    logger.OnMessage({bl::kWarning, "disk full", "palisk.cpp", 83});
    logger.OnProcessInfo({1, "s1", "s2", 2, "s3", "s4"});
    logger.OnTextWithNumbers({"t", 0xFFFFFFFFu, 7});
    logger.OnTaggedText("tagged");
    logger.OnBlob({"name", {1, 2, 3}});
    logger.OnExitCode(0xFFFFFFFEu);
    logger.OnThreadEnd();
    logger.Close();
  }
  std::string expected;
  expected += Record(0x50509074, WireBytes().U32(GetCurrentThreadId()).String("main"));
  expected += Record(0x6AF92F1D, WireBytes().Byte(1).String("disk full").String("palisk.cpp").U32(83));
  expected += Record(0x4543B1A4, WireBytes().U32(1).U32(2).String("s1").String("s3").String("s2").String("s4"));
  expected += Record(0x4EB2A8BE, WireBytes().String("t").U32(0xFFFFFFFFu).U32(7));
  expected += Record(0x16377E0D, WireBytes().U32(0).U32(0).String("tagged"));
  WireBytes blob;
  blob.String("name").U32(3).Byte(1 ^ '7').Byte(2 ^ 'E').Byte(3 ^ '1');
  expected += Record(0xC03E20EA, blob);
  expected += Record(0x349FF25B, WireBytes().U32(0xFFFFFFFEu));
  expected += Record(0xF270708A, WireBytes());

  std::string written = ReadBinaryFile(path);
  ASSERT_EQ(expected.size(), written.size());
  // Mask each record's time (bytes 8-15 of its header), walking the sizes we expect.
  for (size_t at = 0; at + 16 <= expected.size(); at += 16 + U32(expected, at + 4)) {
    for (size_t i = 8; i < 16; ++i) written[at + i] = 0;
  }
  EXPECT_EQ(expected, written);
}

TEST(BinlogReader, ReportsATruncatedFile) {
  bl::RecordBuilder record;
  record.String("abc");
  std::string bytes(16, '\0');
  bytes[0] = '\x74';  // thread-start tag, little-endian 0x50509074
  bytes[1] = '\x90';
  bytes[2] = '\x50';
  bytes[3] = '\x50';
  bytes[4] = 100;  // claims 100 payload bytes
  const binlog::ReadResult read = binlog::Parse(bytes + "short");
  EXPECT_NE("", read.error);
  EXPECT_TRUE(read.records.empty());
}

}  // namespace
