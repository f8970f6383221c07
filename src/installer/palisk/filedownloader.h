// CFileDownloader: fetches the kit. It keeps the list of files the descriptor names, downloads
// each into the working folder through the HTTP client (cache-busting URL, https fall-back for
// URLs without a scheme, attempts per file), verifies it, and feeds the progress accounting.
// No body may grow past its declared size or eat into the drive's free-space margin. Every
// file that passed verification stays held (see HeldFile) for as long as the downloader lives
// or until it is downloaded again, so what was verified is what the installer gets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/guarded_string.h"
#include "gui/downloader_interface.h"
#include "installer/palisk/fileverifier.h"
#include "installer/palisk/held_file.h"
#include "installer/palisk/read_behind_digest.h"
#include "installer/palisk/run_result_codes.h"
#include "libheaders/downloadstatus.h"
#include "libheaders/hyprawrapper.h"

struct FileEntry {
  ov::StringT url;  // the key (compared case-insensitively)
  ov::StringT finalPath;
  ov::StringT md5;  // kept and logged, never compared
  ov::StringT downloadedPath;
  int32_t result = 4350;
  int32_t status = 0;  // 0 pending, 3 in progress, 1 done
  uint32_t expectedSize = 0;
};

class CFileDownloader {
 public:
  enum ManagerKind { kCountBytes = 0, kCountFiles = 1 };
  static constexpr int32_t kCancelled = palisk::run_result::kCancelled;
  static constexpr int32_t kNotValid = palisk::run_result::kKitFileNotValid;

  CFileDownloader();
  virtual ~CFileDownloader();
  CFileDownloader(const CFileDownloader&) = delete;
  CFileDownloader& operator=(const CFileDownloader&) = delete;

  virtual int SetBasePath(const wchar_t* folder);
  virtual int AddFile(const wchar_t* url, const wchar_t* finalPath, const wchar_t* md5, uint32_t expectedSize,
                      bool relativePath);
  virtual int RemoveEntry(const wchar_t* url);
  virtual void SetProxy(const wchar_t* host, uint32_t port, const wchar_t* user, const wchar_t* encryptedPassword,
                        int32_t connectionMode, bool autoDetect);
  virtual int32_t DownloadFiles(int32_t attempts, int32_t unused);
  virtual int GetDownloadSize(uint32_t* total);
  virtual void RemoveAllEntries();
  virtual int Reset();
  virtual int32_t downloadSinglefile(const wchar_t* url, const wchar_t* localPath, int validate, const wchar_t* body);
  virtual uint32_t ReplaceFile(const wchar_t* source, const wchar_t* destination);
  virtual int32_t DownloadFile(FileEntry& entry, const wchar_t* body);
  virtual bool CheckFile(const FileEntry& entry);

  // Prepares the run's progress accounting and screen (nothing when silent). 0 or 1627.
  int AttachProgress(bool silent, const std::wstring& title, int32_t attempts, int managerKind);
  // Closes the screen; -2 when the user had confirmed quitting by then, else 0.
  int32_t CloseProgress();

  // Bytes that every download must leave free on its drive (the kit's minimum space).
  void SetFreeSpaceMargin(uint64_t bytes) { m_freeSpaceMargin = bytes; }
  // The held file at `path` (compared case-insensitively), or null when none is held there.
  const palisk::HeldFile* HeldFileAt(const std::wstring& path) const;
  void ReleaseHeldFile(const std::wstring& path);
  // The digest hashed while the last download landed (lowercase hex), until its file is
  // checked; empty when there is none.
  const std::wstring& LandedDigest() const { return m_landed.digestHex; }

  const std::vector<FileEntry>& Entries() const { return m_entries; }
  int32_t State() const { return m_state; }
  CHypraWrapper& Http() { return m_http; }
  CFileVerifier& Verifier() { return m_verifier; }
  DownloadStatus::IManager* Listener() const { return m_listener.get(); }

  // The proxy password: Base64 of Blowfish ciphertext under the deployment's key.
  static std::wstring DecryptProxyPassword(const std::wstring& encrypted);

 private:
  std::wstring BuildRequestUrl(const std::wstring& url, const wchar_t* prefix) const;
  // The landed digest when `file` is still the file the writer closed, else empty.
  std::wstring LandedDigestOf(const palisk::HeldFile& file) const;

  // The last download, hashed as it landed: its reading handle stays open until the file is
  // held, so the file cannot be renamed or replaced in between.
  struct LandedFile {
    std::wstring path;
    std::wstring digestHex;
    BY_HANDLE_FILE_INFORMATION closedAs = {};
    std::unique_ptr<palisk::ReadBehindDigest> reader;
  };

  std::vector<FileEntry> m_entries;
  ov::StringT m_basePath;
  int32_t m_state = 0;
  uint32_t m_downloadSize = 0;
  bool m_silent = false;
  int32_t m_attempts = 0;
  std::unique_ptr<DownloadStatus::IManager> m_listener;
  std::unique_ptr<CDownloaderInterface> m_screen;
  uint64_t m_freeSpaceMargin = 0;
  std::vector<palisk::HeldFile> m_heldFiles;
  LandedFile m_landed;
  CHypraWrapper m_http;
  CFileVerifier m_verifier;
};
