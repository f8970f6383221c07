// A progress listener that records what the HTTP client tells it.
#pragma once

#include <cstdint>
#include <vector>

#include "libheaders/downloadstatus.h"

namespace testing_support {

class RecordingListener : public DownloadStatus::IManager {
 public:
  int OnBeginDownload(const DownloadStatus::FileIdentity&) override {
    ++begins;
    return 0;
  }
  int OnDownloadProgress(const DownloadStatus::FileIdentity&, const DownloadStatus::ProgressPair& p) override {
    totals.push_back(p.total);
    received += p.received;
    return 0;
  }
  int OnFinishDownload(const DownloadStatus::FileIdentity&) override { return 0; }
  int GetStatus(DownloadStatus::DownloadStatusInfo*) override { return 0; }
  void SetTotal(uint32_t) override {}
  void SetObserver(DownloadStatus::IObserver*) override {}

  int begins = 0;
  uint32_t received = 0;
  std::vector<uint32_t> totals;  // the Content-Length each progress call carried
};

}  // namespace testing_support
