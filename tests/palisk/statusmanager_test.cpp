// Progress accounting: percent by bytes or by files, the speed of the last file, cancels.
#include "installer/palisk/statusmanagerimpl.h"

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

TEST(UrlJoin, AddsOneSlashOnlyWhenMissing) {
  EXPECT_EQ(L"http://h/a/x", palisk::UrlJoin(L"http://h/a", L"x"));
  EXPECT_EQ(L"http://h/a/x", palisk::UrlJoin(L"http://h/a/", L"x"));
  EXPECT_EQ(L"x", palisk::UrlJoin(L"", L"x"));
}

}  // namespace
