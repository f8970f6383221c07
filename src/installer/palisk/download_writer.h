// Writes one download into its final path, and bounds it: never more bytes than the kit
// descriptor declares, and never so many that the drive's free space would fall under the
// kit's minimum-space margin. A refused piece is never written, so nothing beyond the limit
// reaches the disk. While it writes, the file is shared for reading only.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "framework/scoped_handle.h"
#include "libheaders/hyprawrapper.h"

namespace palisk {

class ReadBehindDigest;

class DownloadWriter final : public CHypraWrapper::IBodySink {
 public:
  enum class Refusal { kNone, kDeclaredSize, kFreeSpace, kWriteFailed };

  // `declaredSize` 0: no size declared. `freeSpaceMargin`: bytes that must stay free.
  DownloadWriter(std::wstring path, uint64_t declaredSize, uint64_t freeSpaceMargin);
  DownloadWriter(const DownloadWriter&) = delete;
  DownloadWriter& operator=(const DownloadWriter&) = delete;

  // Creates (or empties) the file. 0 or the error.
  uint32_t Open();
  // Tells `reader` (or nobody, when null) how far the file is written.
  void Follow(ReadBehindDigest* reader) { m_reader = reader; }
  // Stamps the file's last-write time and closes it. What the file was at its close
  // (identity, size, times), so a later handle can tell whether it changed since.
  void Close();
  const BY_HANDLE_FILE_INFORMATION& ClosedAs() const { return m_closedAs; }

  bool Restart() override;
  bool Write(const void* data, size_t size) override;

  // Why the last attempt's body was refused, and the Win32 code that says it.
  Refusal Refused() const { return m_refusal; }
  uint32_t RefusalError() const;
  uint64_t Written() const { return m_written; }

 private:
  bool MeasureRoom();

  std::wstring m_path;
  uint64_t m_declaredSize;
  uint64_t m_margin;
  ov::ScopedHandle m_file;
  ReadBehindDigest* m_reader = nullptr;
  BY_HANDLE_FILE_INFORMATION m_closedAs = {};
  uint64_t m_written = 0;
  uint64_t m_room = 0;          // bytes that may still be written before the margin is reached
  uint64_t m_sinceMeasure = 0;  // written since the free space was last read
  Refusal m_refusal = Refusal::kNone;
  uint32_t m_writeError = 0;
};

}  // namespace palisk
