// CProductConfig: where the kit lives and what it holds. From a working folder and a starting
// URL it gets the configuration XML, follows "latest.dat", downloads and checks "kit.cat" and
// "data.xml" (with retries and local fall-backs), reads both descriptors, hands the file list
// to its downloader and runs the download; it also sends the run's status reports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "framework/guarded_string.h"
#include "installer/palisk/filedownloader.h"
#include "installer/palisk/launch_parameters.h"

namespace palisk {

// The waits between attempts (5000 ms in production); tests may shorten them.
using RetryWaitFn = void (*)(DWORD milliseconds);
void SetRetryWaitForTesting(RetryWaitFn wait);

// "url" + "/" (unless it is empty or already ends with one) + "name".
std::wstring UrlJoin(const std::wstring& url, const std::wstring& name);
// The current kit folder that latest.dat's text names (its second blank-separated token,
// without a trailing line end); false when it names none.
bool KitFolderFromLatestDat(const std::string& text, std::wstring& folder);
// `url` made safe inside a double-quoted command-line argument: '"', blanks, control
// characters and backslashes before the closing quote are percent-encoded; a well-formed URL
// is unchanged.
std::wstring UrlForQuotedArgument(const std::wstring& url);
// The status-link body; the taskId is inserted as a JSON string (escaped).
std::wstring StatusBody(int stateId, int error, const std::wstring& taskId, int32_t timestamp);

}  // namespace palisk

class CProductConfig {
 public:
  enum Architecture : int { kArch32 = 1, kArch64 = 2 };
  static constexpr int32_t kRetries = 12;
  static constexpr DWORD kRetryWaitMs = 5000;

  CProductConfig() = default;
  virtual ~CProductConfig() = default;
  CProductConfig(const CProductConfig&) = delete;
  CProductConfig& operator=(const CProductConfig&) = delete;

  virtual int32_t SetData(const std::wstring& basePath, const std::wstring& configUrl, const std::wstring& configFile,
                          int architecture, bool loadNow, bool silent, const std::wstring& defaultUrl);
  virtual int32_t GetProductInformation(ProductInformation& information);
  virtual int32_t DownloadFiles();
  virtual int32_t NotSupported() { return ERROR_NOT_SUPPORTED; }
  virtual int32_t GetRunCommand(std::wstring& path, std::wstring& parameters, int architecture);
  virtual int32_t LoadKitData(const std::wstring& dataXml);
  // Reads the configuration XML (installer.xml) at `path`: links, proxy and flags.
  HRESULT LoadDataFromFile(const std::wstring& path);
  // Applies the edit list (XPath, text) to the working folder's configuration XML.
  virtual HRESULT ApplyXmlEdits(bool save);
  virtual int32_t ReloadData();

  // Reports to the management server (fire-and-forget: results are only logged).
  int32_t ReportInstallProgress(int state, int error);
  int32_t ReportStatus(int stateId, int error, const std::wstring& taskId);
  void ShowDownloadError(int error, const std::wstring& taskId);

  bool KeepSettings() const { return m_keepSettings; }
  // Every listed file had a usable size: progress counts bytes, not files.
  bool AllSizesKnown() const { return m_allSizesKnown; }
  bool Silent() const { return m_silent; }
  const std::wstring& BaseUrl() const { return m_baseUrl; }
  const ProductInformation& Product() const { return m_product; }
  CFileDownloader& Downloader() { return m_downloader; }
  std::wstring GetProductDisplayName() const;

 private:
  void GetConfigXml(std::wstring& localPath);
  int32_t ResolveDownloadLink(std::wstring& link);
  bool DownloadKitCatalog();
  std::wstring Local(const wchar_t* name) const;

  std::wstring m_basePath;
  std::wstring m_configUrl;
  std::wstring m_configFile;
  std::wstring m_baseUrl;
  std::wstring m_defaultUrl;
  std::wstring m_startingBaseUrl;
  CFileDownloader m_downloader;
  std::vector<std::pair<std::wstring, std::wstring>> m_xmlEdits;
  bool m_silent = false;
  bool m_loaded = false;
  ProductInformation m_product;
  std::wstring m_proxyServer;
  uint32_t m_proxyPort = 0;
  std::wstring m_proxyUser;
  std::wstring m_proxyPassword;  // as stored: encrypted
  int32_t m_proxyMode = 3;
  bool m_autoDetectProxy = true;
  std::wstring m_installLink;
  std::wstring m_statusLink;
  bool m_keepSettings = false;
  bool m_allSizesKnown = true;
  int m_architecture = 0;
};
