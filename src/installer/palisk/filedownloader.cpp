#include "installer/palisk/filedownloader.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>

#include "framework/crypt_base64.h"
#include "framework/crypt_blowfish.h"
#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/utf8.h"
#include "installer/palisk/authenticode_hash.h"
#include "installer/palisk/download_writer.h"
#include "installer/palisk/statusmanagerimpl.h"
#include "logging/binary_logger.h"
#include "logging/log_binding.h"

namespace {

constexpr char kLogSource[] = "filedownloader.cpp";
using namespace RovEveduzodi::BinaryLogger;

// The proxy-password key, stored XORed with kKeyMask; the text ends where a byte gives 0.
constexpr uint8_t kKeyMask = 0x5A;
constexpr uint8_t kStoredKey[] = {0x15, 0x28, 0x2C, 0x3B, 0x34, 0x3F, 0x77, 0x0A, 0x3B, 0x36, 0x33, 0x29, 0x31,
                                  0x75, 0x2A, 0x28, 0x35, 0x22, 0x23, 0x77, 0x39, 0x28, 0x3F, 0x3E, 0x3F, 0x34,
                                  0x2E, 0x33, 0x3B, 0x36, 0x29, 0x79, 0x68, 0x6A, 0x68, 0x6C, 0x5A};

std::string AssembleKey() {
  std::string key;
  for (uint8_t stored : kStoredKey) {
    const uint8_t c = stored ^ kKeyMask;
    if (c == 0 || key.size() == 56) break;
    key += static_cast<char>(c);
  }
  return key;
}

}  // namespace

CFileDownloader::CFileDownloader() = default;

CFileDownloader::~CFileDownloader() {
  RemoveAllEntries();
  m_basePath.Clear();
  CloseProgress();
}

int CFileDownloader::SetBasePath(const wchar_t* folder) {
  if (folder == nullptr) m_basePath.Clear();
  else m_basePath = folder;
  // The descriptors (installer.xml, data.xml) are downloaded to the top of the base path.
  m_verifier.SetDescriptorFolder(m_basePath.c_str());
  return 0;
}

int CFileDownloader::AddFile(const wchar_t* url, const wchar_t* finalPath, const wchar_t* md5, uint32_t expectedSize,
                             bool relativePath) {
  PALISK_LOG(kInfo, L"Adding file: URL = \"%s\"; finalFilePath = \"%s\"; md5Hash = \"%s\"; bRelativePath = \"%s\".",
             url != nullptr ? url : L"", finalPath != nullptr ? finalPath : L"", md5 != nullptr ? md5 : L"",
             relativePath ? L"yes" : L"no");
  if (url == nullptr || *url == 0 || finalPath == nullptr || *finalPath == 0) {
    PALISK_LOG(kError, L"Error: invalid parameters!");
    return ERROR_INVALID_PARAMETER;
  }
  for (const FileEntry& entry : m_entries) {
    if (_wcsicmp(entry.url.c_str(), url) == 0) return entry.status > 2 ? ERROR_IO_PENDING : 0;
  }
  FileEntry entry;
  entry.url = url;
  entry.finalPath = relativePath ? ov::JoinPath(m_basePath.c_str(), finalPath).c_str() : finalPath;
  entry.md5 = md5 != nullptr ? md5 : L"";
  entry.expectedSize = expectedSize;
  m_entries.push_back(entry);
  return 0;
}

int CFileDownloader::RemoveEntry(const wchar_t* url) {
  PALISK_LOG(kInfo, L"fileUrl=%s", url != nullptr ? url : L"");
  if (url == nullptr) {
    PALISK_LOG(kWarning, L"Error: invalid parameters!");
    return ERROR_INVALID_PARAMETER;
  }
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (_wcsicmp(it->url.c_str(), url) != 0) continue;
    if (it->status > 2) return ERROR_IO_PENDING;
    m_entries.erase(it);
    return 0;
  }
  return ERROR_NOT_FOUND;
}

std::wstring CFileDownloader::DecryptProxyPassword(const std::wstring& encrypted) {
  if (encrypted.empty()) return std::wstring();
  Crypt::Base64ObjectImplementation base64;
  std::vector<uint8_t> cipher;
  if (base64.Decode(ov::ToUtf8(encrypted), cipher) != 0) return std::wstring();
  Crypt::BlowfishObjectImplementation blowfish;
  const std::string key = AssembleKey();
  blowfish.SetKey(reinterpret_cast<const uint8_t*>(key.data()), static_cast<uint32_t>(key.size()));
  std::vector<uint8_t> plain;
  // Block by block; a trailing partial block cannot come from the encrypting side.
  if (blowfish.Decrypt(cipher.data(), static_cast<uint32_t>(cipher.size() / 8 * 8), plain) != 0) return std::wstring();
  plain.push_back(0);
  return ov::FromUtf8(reinterpret_cast<const char*>(plain.data()));
}

void CFileDownloader::SetProxy(const wchar_t* host, uint32_t port, const wchar_t* user,
                               const wchar_t* encryptedPassword, int32_t, bool) {
  palisk::ProxyRecord proxy;
  proxy.host = host != nullptr ? host : L"";
  proxy.port = port;
  proxy.user = user != nullptr ? user : L"";
  proxy.password = DecryptProxyPassword(encryptedPassword != nullptr ? encryptedPassword : L"");
  m_http.SetConfiguredProxy(proxy);
}

int CFileDownloader::GetDownloadSize(uint32_t* total) {
  if (total == nullptr) return ERROR_INVALID_PARAMETER;
  if (m_downloadSize != 0) {
    PALISK_LOG(kInfo, L"GetDownloadSize: m_downloadSize = %d != 0", m_downloadSize);
    *total = m_downloadSize;
    return 0;
  }
  uint32_t sum = 0;
  for (const FileEntry& entry : m_entries) {
    if (entry.status != 0) continue;
    if (entry.expectedSize == 0) {  // one unknown size: count files instead
      sum = static_cast<uint32_t>(m_entries.size());
      break;
    }
    sum += entry.expectedSize;
  }
  PALISK_LOG(kInfo, L"GetDownloadSize: res == ERROR_SUCCESS");
  PALISK_LOG(kInfo, L"GetDownloadSize: m_downloadSize = %lu]", sum);
  m_downloadSize = sum;
  *total = sum;
  return 0;
}

void CFileDownloader::RemoveAllEntries() { m_entries.clear(); }

int CFileDownloader::Reset() {
  RemoveAllEntries();
  m_heldFiles.clear();
  m_basePath.Clear();
  m_state = 0;
  m_downloadSize = 0;
  return 0;
}

int CFileDownloader::AttachProgress(bool silent, const std::wstring& title, int32_t attempts, int managerKind) {
  m_silent = silent;
  m_attempts = attempts;
  if (silent) return 0;
  uint32_t total = 0;
  GetDownloadSize(&total);
  if (managerKind == kCountBytes) m_listener.reset(new (std::nothrow) DownloadStatus::DownloadStatusManagerBytes());
  else if (managerKind == kCountFiles) m_listener.reset(new (std::nothrow) DownloadStatus::DownloadStatusManagerFiles());
  else return ERROR_FUNCTION_FAILED;
  if (!m_listener) return ERROR_FUNCTION_FAILED;
  m_listener->SetTotal(total);
  m_screen.reset(new (std::nothrow) CDownloaderInterface(title.c_str(), m_listener.get()));
  if (!m_screen) return ERROR_FUNCTION_FAILED;  // the download goes on without a screen
  m_listener->SetObserver(m_screen.get());
  m_screen->Show(true);
  return 0;
}

int32_t CFileDownloader::CloseProgress() {
  // Close dismisses a question still open without waiting for it; the user's decision is
  // final once the screen is gone.
  const bool cancelled = m_screen && (m_screen->Close(), m_screen->IsCancelled());
  if (m_listener) m_listener->SetObserver(nullptr);
  m_screen.reset();
  return cancelled ? kCancelled : 0;
}

int32_t CFileDownloader::DownloadFiles(int32_t attempts, int32_t) {
  logging::CallTrace trace(L"CFileDownloader::DownloadFiles : starting file downloading");
  m_state = 3;
  int32_t result = 0;
  // At least one attempt: a count of 0 would otherwise retry a failing file forever.
  const int32_t maxAttempts = attempts > 0 ? attempts : 1;
  for (FileEntry& entry : m_entries) {
    if (entry.status != 0) continue;
    if (m_screen && m_screen->QueryCancel() == kCancelled) {
      result = kCancelled;
      break;
    }
    entry.status = 3;
    for (int32_t attempt = 1;; ++attempt) {
      result = DownloadFile(entry, L"");
      if (result == kCancelled) break;  // the user stopped this transfer
      if (result == 0) {
        if (!CheckFile(entry)) {
          PALISK_LOG(kError, L"Downloaded file \"%s\" failed validation after download", entry.finalPath.c_str());
          result = kNotValid;
        }
        break;
      }
      if (attempt >= maxAttempts) break;
    }
    // A quit confirmed while the file arrived or was checked stops the run here, after the
    // last file as after any other.
    if (result == 0 && m_screen && m_screen->QueryCancel() == kCancelled) result = kCancelled;
    entry.result = result;
    entry.status = 1;
    if (result != 0) break;
    if (m_listener) {
      DownloadStatus::FileIdentity identity;
      identity.url = entry.url;
      identity.localPath = entry.downloadedPath;
      m_listener->OnFinishDownload(identity);
    }
  }
  m_state = 1;
  return result;
}

std::wstring CFileDownloader::BuildRequestUrl(const std::wstring& url, const wchar_t* prefix) const {
  wchar_t buffer[1024];
  const int number = static_cast<int>(GetTickCount() + static_cast<DWORD>(std::rand()));
  const wchar_t* format = url.find(L'?') != std::wstring::npos ? L"%s%s&fakeparam=%d" : L"%s%s?fakeparam=%d";
  const int n = _snwprintf(buffer, 1024, format, prefix, url.c_str(), number);
  // A request URL that does not fit 1023 characters is refused rather than cut.
  if (n < 0 || n >= 1024) return std::wstring();
  return buffer;
}

int32_t CFileDownloader::DownloadFile(FileEntry& entry, const wchar_t* body) {
  if (entry.url.IsEmpty() || entry.finalPath.IsEmpty()) {
    PALISK_LOG(kError, L"Error: invalid parameters for file download.");
    return ERROR_INVALID_PARAMETER;
  }
  logging::CallTrace trace(L"CFileDownloader::DownloadFile : downloading single file");
  const std::wstring finalPath = entry.finalPath.c_str();
  ReleaseHeldFile(finalPath);  // a file downloaded again is judged again
  m_landed = LandedFile();
  const std::wstring url = entry.url.c_str();
  PALISK_LOG(kInfo, L"Downloading file \"%s\".", finalPath.c_str());
  PALISK_LOG(kInfo, L"URL for file = \"%s\"; path = \"%s\".", url.c_str(), finalPath.c_str());
  entry.downloadedPath = entry.finalPath;

  const std::wstring folder = ov::FolderOf(finalPath);
  if (!folder.empty() && !ov::FileExists(folder)) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  DeleteFileW(finalPath.c_str());
  // The body is written here, not by Hypra: only so can its size be bounded as it arrives.
  palisk::DownloadWriter writer(finalPath, entry.expectedSize, m_freeSpaceMargin);
  if (const uint32_t opened = writer.Open()) {
    PALISK_LOG(kError, L"Downloading file \"%s\": the file cannot be created [err = %u].", finalPath.c_str(), opened);
    return static_cast<int32_t>(opened);
  }
  // The file is hashed behind the writer, from the disk, as it lands. Without that thread it
  // is hashed when it is checked, as a whole.
  std::unique_ptr<palisk::ReadBehindDigest> reader(new (std::nothrow) palisk::ReadBehindDigest());
  if (reader && reader->Start(finalPath) != 0) reader.reset();
  writer.Follow(reader.get());

  const bool hasScheme = url.compare(0, 4, L"http") == 0;
  std::wstring requestUrl = BuildRequestUrl(url, hasScheme ? L"" : L"http://");
  if (requestUrl.empty()) return palisk::run_result::kUrlTooLong;
  PALISK_LOG(kInfo, L"Downloading file with hypra: final file path = \"%s\"", finalPath.c_str());
  int32_t result = static_cast<int32_t>(m_http.SendRequest(requestUrl.c_str(), &writer, m_listener.get(), body));
  PALISK_LOG(kInfo, L"Error code for file download with hypra = %i.", result);
  if (result != 0 && result != kCancelled && !hasScheme) {
    PALISK_LOG(kInfo, L"File protocol missing,failed to download with hppt [err = %d],attempting https", result);
    requestUrl = BuildRequestUrl(url, L"https://");
    PALISK_LOG(kInfo, L"Downloading file with hypra using protocol \"%s\": final file path = \"%s\"", L"https://",
               finalPath.c_str());
    result = static_cast<int32_t>(m_http.SendRequest(requestUrl.c_str(), &writer, m_listener.get(), body));
    PALISK_LOG(kInfo, L"Error code for file download with hypra = %i.", result);
  }
  writer.Close();
  std::vector<uint8_t> digest;
  if (result == 0 && reader && reader->Finish(writer.Written(), digest) == 0) {
    m_landed.path = finalPath;
    m_landed.digestHex = palisk::LowerHex(digest.data(), digest.size());
    m_landed.closedAs = writer.ClosedAs();
    m_landed.reader = std::move(reader);
  }
  reader.reset();  // a failed file is deleted below: no handle of ours may keep it
  if (result != 0 && writer.Refused() == palisk::DownloadWriter::Refusal::kDeclaredSize) {
    PALISK_LOG(kError, L"Downloading file \"%s\": more than its declared %u bytes arrived.", finalPath.c_str(),
               entry.expectedSize);
    result = static_cast<int32_t>(writer.RefusalError());
  } else if (result != 0 && writer.Refused() == palisk::DownloadWriter::Refusal::kFreeSpace) {
    PALISK_LOG(kError, L"Downloading file \"%s\" stopped: the drive must keep %I64u bytes free.", finalPath.c_str(),
               m_freeSpaceMargin);
    result = static_cast<int32_t>(writer.RefusalError());
  } else if (result != 0 && writer.Refused() == palisk::DownloadWriter::Refusal::kWriteFailed) {
    result = static_cast<int32_t>(writer.RefusalError());
  }
  if (result == 0) {
    PALISK_LOG(kInfo, L"Downloading file \"%s\" succeeded from URL \"%s\".", finalPath.c_str(), requestUrl.c_str());
  } else {
    PALISK_LOG(kWarning, L"Error: Download failed %s", requestUrl.c_str());
    DeleteFileW(finalPath.c_str());
    PALISK_LOG(kError, L"Downloading file \"%s\" failed from URL \"%s\".", finalPath.c_str(), requestUrl.c_str());
  }
  return result;
}

bool CFileDownloader::CheckFile(const FileEntry& entry) {
  PALISK_LOG(kInfo, L"Checking file \"%s\"", entry.finalPath.c_str());
  // Opened once, denying writers and deleters, and judged through that handle; a file that
  // passes stays held. One that cannot be opened so (gone, or open elsewhere) is not valid.
  palisk::HeldFile file;
  if (const uint32_t opened = file.Open(entry.finalPath.c_str())) {
    PALISK_LOG(kError, L"File [%s] cannot be held for verification [err = %u].", entry.finalPath.c_str(), opened);
    return false;
  }
  const std::wstring landed = LandedDigestOf(file);
  m_landed = LandedFile();
  if (!m_verifier.ValidateFile(file, landed)) return false;
  ReleaseHeldFile(file.Path());
  m_heldFiles.push_back(std::move(file));
  return true;
}

std::wstring CFileDownloader::LandedDigestOf(const palisk::HeldFile& file) const {
  if (!m_landed.reader || _wcsicmp(m_landed.path.c_str(), file.Path().c_str()) != 0) return std::wstring();
  // Between the writer's close and the hold another process could have written the file (no
  // share mode lets a write handle become a read-only one): the same file, with the size and
  // the time stamped at the close, is the file hashed; any other is hashed again, as a whole.
  BY_HANDLE_FILE_INFORMATION now = {};
  const BY_HANDLE_FILE_INFORMATION& closed = m_landed.closedAs;
  if (!GetFileInformationByHandle(file.Handle(), &now) || now.dwVolumeSerialNumber != closed.dwVolumeSerialNumber ||
      now.nFileIndexHigh != closed.nFileIndexHigh || now.nFileIndexLow != closed.nFileIndexLow ||
      now.nFileSizeHigh != closed.nFileSizeHigh || now.nFileSizeLow != closed.nFileSizeLow ||
      CompareFileTime(&now.ftLastWriteTime, &closed.ftLastWriteTime) != 0) {
    PALISK_LOG(kWarning, L"File [%s] changed after its download: it is hashed again.", file.Path().c_str());
    return std::wstring();
  }
  return m_landed.digestHex;
}

const palisk::HeldFile* CFileDownloader::HeldFileAt(const std::wstring& path) const {
  for (const palisk::HeldFile& file : m_heldFiles) {
    if (_wcsicmp(file.Path().c_str(), path.c_str()) == 0) return &file;
  }
  return nullptr;
}

void CFileDownloader::ReleaseHeldFile(const std::wstring& path) {
  for (auto it = m_heldFiles.begin(); it != m_heldFiles.end(); ++it) {
    if (_wcsicmp(it->Path().c_str(), path.c_str()) == 0) {
      m_heldFiles.erase(it);
      return;
    }
  }
}

int32_t CFileDownloader::downloadSinglefile(const wchar_t* url, const wchar_t* localPath, int validate,
                                           const wchar_t* body) {
  if (url == nullptr || localPath == nullptr) {
    PALISK_LOG(kWarning, L"Error: invalid paraeters!");
    return ERROR_INVALID_PARAMETER;
  }
  FileEntry entry;
  entry.url = url;
  entry.finalPath = localPath;
  const int32_t result = DownloadFile(entry, body);
  if (result == 0 && validate != 0 && !CheckFile(entry)) return kNotValid;
  return result;
}

uint32_t CFileDownloader::ReplaceFile(const wchar_t* source, const wchar_t* destination) {
  if (source == nullptr || destination == nullptr) return ERROR_INVALID_PARAMETER;
  const std::wstring target = destination;
  if (!ov::FileExists(target)) {
    const std::wstring folder = ov::FolderOf(target);
    if (!folder.empty() && !ov::FileExists(folder)) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  } else {
    std::wstring aside;
    do {
      Sleep(1);
      aside = ov::JoinPath(ov::FolderOf(target), (L"del_" + std::to_wstring(GetTickCount())).c_str());
    } while (ov::FileExists(aside));
    if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return GetLastError();
    }
    if (!DeleteFileW(aside.c_str())) MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!PathIsSameRootW(source, destination)) flags |= MOVEFILE_COPY_ALLOWED;
  if (!MoveFileExW(source, destination, flags)) {
    if (!CopyFileW(source, destination, FALSE)) return GetLastError();
    if (!DeleteFileW(source)) MoveFileExW(source, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return 0;
}
