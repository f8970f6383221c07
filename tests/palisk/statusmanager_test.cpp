// Progress accounting: percent by bytes or by files, the speed of the last file, cancels.
#include "installer/palisk/statusmanagerimpl.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "installer/palisk/productconfig.h"

namespace {

using namespace DownloadStatus;

DWORD g_now = 0;
DWORD FakeClock() { return g_now; }

class Clocked : public testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    DownloadStatusManagerCommon::SetClockForTesting(&FakeClock);
  }
  void TearDown() override { DownloadStatusManagerCommon::SetClockForTesting(nullptr); }
  static ProgressPair Delta(uint32_t received) {
    ProgressPair p;
    p.received = received;
    return p;
  }
  static uint32_t Percent(IManager& manager) {
    DownloadStatusInfo info;
    manager.GetStatus(&info);
    return info.percent;
  }
  static double Speed(IManager& manager) {
    DownloadStatusInfo info;
    manager.GetStatus(&info);
    return info.speedKBps;
  }
  FileIdentity file_;
};

TEST_F(Clocked, BytesPercentGrowsAndARestartedFileIsNotCountedTwice) {
  DownloadStatusManagerBytes manager;
  manager.SetTotal(1000);
  manager.OnBeginDownload(file_);
  manager.OnDownloadProgress(file_, Delta(250));
  EXPECT_EQ(25u, Percent(manager));
  manager.OnDownloadProgress(file_, Delta(250));
  EXPECT_EQ(50u, Percent(manager));
  manager.OnBeginDownload(file_);  // the attempt starts again: its 500 bytes are taken back
  manager.OnDownloadProgress(file_, Delta(100));
  EXPECT_EQ(50u, Percent(manager)) << "the percent never goes down";
  manager.OnDownloadProgress(file_, Delta(500));
  EXPECT_EQ(60u, Percent(manager));
}

TEST_F(Clocked, BytesPercentIsClampedAtOneHundred) {
  DownloadStatusManagerBytes manager;
  manager.SetTotal(100);
  manager.OnBeginDownload(file_);
  manager.OnDownloadProgress(file_, Delta(300));
  EXPECT_EQ(100u, Percent(manager));
}

TEST_F(Clocked, ZeroTotalLeavesZero) {
  DownloadStatusManagerBytes bytes;
  bytes.OnDownloadProgress(file_, Delta(300));
  EXPECT_EQ(0u, Percent(bytes));
  DownloadStatusManagerFiles files;
  files.OnFinishDownload(file_);
  EXPECT_EQ(0u, Percent(files));
}

TEST_F(Clocked, FilesPercentCountsOneFileAhead) {
  DownloadStatusManagerFiles manager;
  manager.SetTotal(3);
  manager.OnBeginDownload(file_);
  manager.OnFinishDownload(file_);
  EXPECT_EQ(66u, Percent(manager));
  manager.OnBeginDownload(file_);
  manager.OnFinishDownload(file_);
  EXPECT_EQ(100u, Percent(manager));
}

TEST_F(Clocked, SpeedIsThatOfTheLastFinishedFile) {
  DownloadStatusManagerBytes manager;
  manager.SetTotal(1 << 20);
  manager.OnBeginDownload(file_);
  manager.OnDownloadProgress(file_, Delta(2048));
  g_now += 2000;
  manager.OnFinishDownload(file_);
  EXPECT_DOUBLE_EQ(1.0, Speed(manager));
  manager.OnBeginDownload(file_);
  manager.OnDownloadProgress(file_, Delta(4096));
  g_now += 10;  // within 10 ms: too short to measure, the speed stays
  manager.OnFinishDownload(file_);
  EXPECT_DOUBLE_EQ(1.0, Speed(manager));
}

class Cancelling : public IObserver {
 public:
  int QueryCancel() override { return cancel ? kCancelled : 0; }
  bool cancel = false;
};

TEST_F(Clocked, PendingCancelStopsCounting) {
  Cancelling screen;
  DownloadStatusManagerBytes manager;
  manager.SetTotal(1000);
  manager.SetObserver(&screen);
  EXPECT_EQ(0, manager.OnDownloadProgress(file_, Delta(100)));
  screen.cancel = true;
  EXPECT_EQ(kCancelled, manager.OnDownloadProgress(file_, Delta(400)));
  EXPECT_EQ(10u, Percent(manager));
}

TEST(StatusReport, TemplatesAndSpacing) {
  EXPECT_EQ(L"{\"version\":1, \"action\": 1, \"stateId\": 200 , \"error\": 0, \"taskId\":\"T-1\", \"timestamp\": 1700000000 }",
            palisk::StatusBody(200, 0, L"T-1", 1700000000));
  EXPECT_EQ(L"{\"version\":1, \"action\": 1, \"stateId\": 211 , \"error\": -13, \"timestamp\": 5 }",
            palisk::StatusBody(211, -13, L"", 5));
}

TEST(StatusReport, TaskIdIsEscapedSoTheDocumentStaysJson) {
  EXPECT_EQ(L"{\"version\":1, \"action\": 1, \"stateId\": 201 , \"error\": 0, "
            L"\"taskId\":\"a\\\"b\\\\c\\u000a\", \"timestamp\": 1 }",
            palisk::StatusBody(201, 0, L"a\"b\\c\n", 1));
}

// The escaped id is cut at 1500 characters, never inside an escape: a lone backslash left
// before the closing quote would swallow it and break the document.
TEST(StatusReport, LongTaskIdIsCutBetweenEscapes) {
  const std::wstring prefix(1499, L'x');
  const std::wstring body = palisk::StatusBody(201, 0, prefix + L"\"tail", 1);
  EXPECT_NE(std::wstring::npos, body.find(L"\"taskId\":\"" + prefix + L"\", \"timestamp\": 1 }"))
      << "the two-character escape does not fit, so it is left out whole";

  const std::wstring quotes(1000, L'"');  // 2000 characters escaped
  const std::wstring cut = palisk::StatusBody(201, 0, quotes, 1);
  const size_t start = cut.find(L"\"taskId\":\"") + 10;
  const size_t end = cut.find(L"\", \"timestamp\"");
  ASSERT_NE(std::wstring::npos, end);
  EXPECT_EQ(1500u, end - start) << "750 whole escapes";

  const std::wstring controls(400, L'\x01');  // six characters each escaped
  const std::wstring cutControls = palisk::StatusBody(201, 0, controls, 1);
  const size_t from = cutControls.find(L"\"taskId\":\"") + 10;
  EXPECT_EQ(1500u, cutControls.find(L"\", \"timestamp\"") - from) << "250 whole \\u0001 escapes";
}

// The kit URL goes into the installer's command line between double quotes. Data from the
// network (installer.xml, latest.dat) must not be able to close them and add switches.
TEST(UrlForQuotedArgument, WellFormedUrlsAreUnchanged) {
  for (const wchar_t* url : {L"http://kits.example.com/orvane/kits/1.0.0/x64", L"https://h:8443/a/b?c=d&e=%20f#g",
                             L"http://h/\u00e9t\u00e9/", L""}) {
    EXPECT_EQ(url, palisk::UrlForQuotedArgument(url));
  }
}

TEST(UrlForQuotedArgument, QuotesBlanksControlsAndClosingBackslashesAreEncoded) {
  EXPECT_EQ(L"http://h/1.0.0%22%20/evil%20/quiet", palisk::UrlForQuotedArgument(L"http://h/1.0.0\" /evil /quiet"));
  EXPECT_EQ(L"http://h/a%09b%0D%0A%7F%00", palisk::UrlForQuotedArgument(std::wstring(L"http://h/a\tb\r\n\x7f\0", 16)));
  EXPECT_EQ(L"http://h/a\\b%5C%5C", palisk::UrlForQuotedArgument(L"http://h/a\\b\\\\"))
      << "only the backslashes that would escape the closing quote";

  // Whatever the URL, the quoted argument parses back as exactly one argument.
  const std::wstring hostile = L"http://h/k\"\t/x \"\\";
  const std::wstring commandLine = L"setup.exe currentDownloadLink=\"" + palisk::UrlForQuotedArgument(hostile) +
                                   L"\" /silent taskId=T";
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(commandLine.c_str(), &count);
  ASSERT_NE(nullptr, arguments);
  ASSERT_EQ(4, count);
  EXPECT_EQ(L"/silent", std::wstring(arguments[2]));
  EXPECT_EQ(L"taskId=T", std::wstring(arguments[3]));
  LocalFree(arguments);
}

TEST(UrlJoin, AddsOneSlashOnlyWhenMissing) {
  EXPECT_EQ(L"http://h/a/x", palisk::UrlJoin(L"http://h/a", L"x"));
  EXPECT_EQ(L"http://h/a/x", palisk::UrlJoin(L"http://h/a/", L"x"));
  EXPECT_EQ(L"x", palisk::UrlJoin(L"", L"x"));
}

}  // namespace
