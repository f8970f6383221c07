// Progress accounting of one download run: raw transfer events in, a completion percentage
// and the speed of the last finished file out. One manager counts bytes (every size known),
// the other counts files.
#pragma once

#include <windows.h>

#include <cstdint>

#include "libheaders/downloadstatus.h"

namespace DownloadStatus {

class DownloadStatusManagerCommon : public IManager {
 public:
  DownloadStatusManagerCommon();
  ~DownloadStatusManagerCommon() override;
  DownloadStatusManagerCommon(const DownloadStatusManagerCommon&) = delete;
  DownloadStatusManagerCommon& operator=(const DownloadStatusManagerCommon&) = delete;

  // Percent clamped to 100, speed in KB/s.
  int GetStatus(DownloadStatusInfo* info) override;
  void SetObserver(IObserver* observer) override { m_observer = observer; }

  using Clock = DWORD (*)();
  static void SetClockForTesting(Clock clock);

 protected:
  static DWORD Now();
  bool CancelPending() { return m_observer != nullptr && m_observer->QueryCancel() == kCancelled; }
  // Speed of the file that just finished: current-file bytes over the time since its start.
  void UpdateSpeed();

  DWORD m_start = 0;
  uint32_t m_currentFileBytes = 0;
  IObserver* m_observer = nullptr;
  DownloadStatusInfo m_info;
  CRITICAL_SECTION m_lock;
  uint32_t m_total = 0;
  uint32_t m_counter = 0;
};

class DownloadStatusManagerBytes final : public DownloadStatusManagerCommon {
 public:
  int OnBeginDownload(const FileIdentity& file) override;
  int OnDownloadProgress(const FileIdentity& file, const ProgressPair& progress) override;
  int OnFinishDownload(const FileIdentity& file) override;
  void SetTotal(uint32_t total) override { m_total = total; }
};

class DownloadStatusManagerFiles final : public DownloadStatusManagerCommon {
 public:
  int OnBeginDownload(const FileIdentity& file) override;
  int OnDownloadProgress(const FileIdentity& file, const ProgressPair& progress) override;
  int OnFinishDownload(const FileIdentity& file) override;
  void SetTotal(uint32_t total) override { m_total = total; }
};

}  // namespace DownloadStatus
