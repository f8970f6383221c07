#include "installer/palisk/download_writer.h"

#include <windows.h>

#include <utility>

#include "framework/module_path.h"
#include "installer/palisk/read_behind_digest.h"

namespace palisk {
namespace {

// Other programs use the drive too: its free space is read again after this many bytes.
constexpr uint64_t kMeasureEvery = 16ull << 20;

}  // namespace

DownloadWriter::DownloadWriter(std::wstring path, uint64_t declaredSize, uint64_t freeSpaceMargin)
    : m_path(std::move(path)), m_declaredSize(declaredSize), m_margin(freeSpaceMargin) {}

uint32_t DownloadWriter::Open() {
  m_file.Set(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  return m_file.IsValid() ? 0 : GetLastError();
}

void DownloadWriter::Close() {
  m_closedAs = BY_HANDLE_FILE_INFORMATION{};
  if (!m_file.IsValid()) return;
  // A time set on the handle is the one the file keeps after the close (a file system may
  // otherwise write its own at the close), so the time read now is the time seen later.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SetFileTime(m_file.Get(), nullptr, nullptr, &now);
  if (!GetFileInformationByHandle(m_file.Get(), &m_closedAs)) m_closedAs = BY_HANDLE_FILE_INFORMATION{};
  m_file.Close();
}

bool DownloadWriter::Restart() {
  m_written = 0;
  m_refusal = Refusal::kNone;
  m_writeError = 0;
  LARGE_INTEGER start = {};
  if (!m_file.IsValid() || !SetFilePointerEx(m_file.Get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get())) {
    return false;
  }
  if (m_reader != nullptr) m_reader->Emptied();
  MeasureRoom();
  return true;
}

bool DownloadWriter::MeasureRoom() {
  m_sinceMeasure = 0;
  ULARGE_INTEGER available = {}, total = {}, free = {};
  // A drive whose free space cannot be read gets no room: the bound must hold to protect it.
  if (!GetDiskFreeSpaceExW(ov::FolderOf(m_path).c_str(), &available, &total, &free)) {
    m_room = 0;
    return false;
  }
  m_room = available.QuadPart > m_margin ? available.QuadPart - m_margin : 0;
  return true;
}

bool DownloadWriter::Write(const void* data, size_t size) {
  if (m_declaredSize != 0 && (size > m_declaredSize || m_written > m_declaredSize - size)) {
    m_refusal = Refusal::kDeclaredSize;
    return false;
  }
  if (size > m_room || m_sinceMeasure >= kMeasureEvery) MeasureRoom();
  if (size > m_room) {
    m_refusal = Refusal::kFreeSpace;
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(m_file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
    m_writeError = GetLastError();
    m_refusal = Refusal::kWriteFailed;
    return false;
  }
  m_written += size;
  if (m_reader != nullptr) m_reader->Landed(m_written);
  m_room -= size;
  m_sinceMeasure += size;
  return true;
}

uint32_t DownloadWriter::RefusalError() const {
  switch (m_refusal) {
    case Refusal::kDeclaredSize: return ERROR_FILE_TOO_LARGE;
    case Refusal::kFreeSpace: return ERROR_DISK_FULL;
    case Refusal::kWriteFailed: return m_writeError != 0 ? m_writeError : ERROR_WRITE_FAULT;
    default: return 0;
  }
}

}  // namespace palisk
