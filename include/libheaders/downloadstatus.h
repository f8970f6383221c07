// The progress-listener interface shared by the downloader, the HTTP client and the progress
// screen: raw transfer events in, a percentage and a speed out.
#pragma once

#include <cstdint>

#include "framework/guarded_string.h"

namespace DownloadStatus {

struct FileIdentity {
  ov::StringT url;
  ov::StringT localPath;
};

// Total is the response's Content-Length as far as known (0 before it arrives); received is
// the number of bytes since the previous progress call.
struct ProgressPair {
  uint32_t total = 0;
  uint32_t received = 0;
};

struct DownloadStatusInfo {
  uint32_t percent = 0;
  double speedKBps = 0.0;
  uint32_t etl = 0;  // never computed; the progress page receives it as is
};

// Receives the progress screen's cancel query (implemented by the screen's interface).
class IObserver {
 public:
  // -2 when the user asked to cancel, else 0.
  virtual int QueryCancel() = 0;
};

constexpr int kCancelled = -2;

class IManager {
 public:
  virtual ~IManager() = default;
  virtual int OnBeginDownload(const FileIdentity& file) = 0;
  // 0, or -2 when a cancel is pending.
  virtual int OnDownloadProgress(const FileIdentity& file, const ProgressPair& progress) = 0;
  virtual int OnFinishDownload(const FileIdentity& file) = 0;
  virtual int GetStatus(DownloadStatusInfo* info) = 0;
  virtual void SetTotal(uint32_t total) = 0;
  virtual void SetObserver(IObserver* observer) = 0;
};

}  // namespace DownloadStatus
