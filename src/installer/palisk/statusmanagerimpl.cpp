#include "installer/palisk/statusmanagerimpl.h"

#include "logging/binary_logger.h"

namespace DownloadStatus {
namespace {

constexpr char kLogSource[] = "statusmanagerimpl.cpp";
DownloadStatusManagerCommon::Clock g_clock = nullptr;

}  // namespace

DownloadStatusManagerCommon::DownloadStatusManagerCommon() { InitializeCriticalSectionAndSpinCount(&m_lock, 1000); }

DownloadStatusManagerCommon::~DownloadStatusManagerCommon() { DeleteCriticalSection(&m_lock); }

void DownloadStatusManagerCommon::SetClockForTesting(Clock clock) { g_clock = clock; }

DWORD DownloadStatusManagerCommon::Now() { return g_clock != nullptr ? g_clock() : GetTickCount(); }

int DownloadStatusManagerCommon::GetStatus(DownloadStatusInfo* info) {
  EnterCriticalSection(&m_lock);
  if (m_info.percent > 100) m_info.percent = 100;
  if (info != nullptr) *info = m_info;
  LeaveCriticalSection(&m_lock);
  return 0;
}

void DownloadStatusManagerCommon::UpdateSpeed() {
  const DWORD elapsed = Now() - m_start;
  if (elapsed <= 10) return;
  EnterCriticalSection(&m_lock);
  m_info.speedKBps = m_currentFileBytes * (1.0 / 1024) / (elapsed / 1000.0);
  LeaveCriticalSection(&m_lock);
}

int DownloadStatusManagerBytes::OnBeginDownload(const FileIdentity&) {
  m_start = Now();
  // An attempt that begins again must not count its first bytes twice.
  if (m_currentFileBytes != 0) {
    m_counter -= m_currentFileBytes;
    m_currentFileBytes = 0;
  }
  return 0;
}

int DownloadStatusManagerBytes::OnDownloadProgress(const FileIdentity&, const ProgressPair& progress) {
  if (CancelPending()) return kCancelled;
  m_currentFileBytes += progress.received;
  m_counter += progress.received;
  if (m_total != 0) {
    const float counter = static_cast<float>(m_counter);
    const float total = static_cast<float>(m_total);
    const uint32_t candidate = static_cast<uint32_t>(counter / total * 100.0f);
    EnterCriticalSection(&m_lock);
    if (candidate > m_info.percent) m_info.percent = candidate;  // never goes down
    LeaveCriticalSection(&m_lock);
  }
  return 0;
}

int DownloadStatusManagerBytes::OnFinishDownload(const FileIdentity&) {
  UpdateSpeed();
  m_currentFileBytes = 0;
  return 0;
}

int DownloadStatusManagerFiles::OnBeginDownload(const FileIdentity&) {
  m_start = Now();
  m_currentFileBytes = 0;
  PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo, L"OnBeginDownload: timestamp [%d]", m_start);
  return 0;
}

int DownloadStatusManagerFiles::OnDownloadProgress(const FileIdentity&, const ProgressPair& progress) {
  if (CancelPending()) return kCancelled;
  m_currentFileBytes += progress.received;
  return 0;
}

int DownloadStatusManagerFiles::OnFinishDownload(const FileIdentity&) {
  PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo, L"OnFinishDownload: finish timestamp [%d]", Now());
  ++m_counter;
  EnterCriticalSection(&m_lock);
  // One file ahead, as the progress page has always shown it; GetStatus clamps to 100.
  m_info.percent = m_total == 0 ? 0
                                : static_cast<uint32_t>(static_cast<float>(m_counter + 1) /
                                                        static_cast<float>(m_total) * 100.0f);
  LeaveCriticalSection(&m_lock);
  UpdateSpeed();
  return 0;
}

}  // namespace DownloadStatus
