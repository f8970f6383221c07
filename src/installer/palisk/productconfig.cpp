#include "installer/palisk/productconfig.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>

#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/utf8.h"
#include "gui/message_box.h"
#include "installer/palisk/command_line.h"
#include "installer/palisk/glossel_client.h"
#include "installer/palisk/kit_file_name.h"
#include "installer/palisk/xml_document.h"
#include "logging/binary_logger.h"
#include "logging/log_binding.h"

namespace palisk {
namespace {

RetryWaitFn g_retryWait = nullptr;

}  // namespace

void SetRetryWaitForTesting(RetryWaitFn wait) { g_retryWait = wait; }

void WaitForRetry(DWORD milliseconds) {
  if (g_retryWait != nullptr) g_retryWait(milliseconds);
  else Sleep(milliseconds);
}

std::wstring UrlJoin(const std::wstring& url, const std::wstring& name) {
  std::wstring joined = url;
  if (!joined.empty() && joined.back() != L'/') joined += L'/';
  return joined + name;
}

bool KitFolderFromLatestDat(const std::string& text, std::wstring& folder) {
  folder.clear();
  // The second blank-separated token names the current kit folder.
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < text.size() && tokens.size() < 2) {
    const size_t start = text.find_first_not_of(' ', at);
    if (start == std::string::npos) break;
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    tokens.push_back(text.substr(start, end - start));
    at = end;
  }
  if (tokens.size() < 2) return false;
  std::string token = tokens[1];
  // Trailing line ends (CR LF from an editor as well as LF) are not part of the folder.
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  if (token.empty()) return false;
  folder = ov::FromUtf8(token);
  return true;
}

std::wstring UrlForQuotedArgument(const std::wstring& url) {
  // A double quote would close the argument's quotes and a blank or control character would
  // start a new argument; backslashes right before the closing quote would escape it. A
  // well-formed URL has none of these, so it comes out unchanged.
  size_t trailingBackslashes = 0;
  while (trailingBackslashes < url.size() && url[url.size() - 1 - trailingBackslashes] == L'\\') {
    ++trailingBackslashes;
  }
  std::wstring safe;
  safe.reserve(url.size());
  for (size_t i = 0; i < url.size(); ++i) {
    const wchar_t c = url[i];
    const bool escapesTheQuote = c == L'\\' && i >= url.size() - trailingBackslashes;
    if (c == L'"' || c == L' ' || c < 0x20 || c == 0x7F || escapesTheQuote) {
      wchar_t code[4];
      _snwprintf(code, 4, L"%%%02X", static_cast<unsigned>(c));
      safe.append(code, 3);
    } else {
      safe += c;
    }
  }
  return safe;
}

std::wstring StatusBody(int stateId, int error, const std::wstring& taskId, int32_t timestamp) {
  wchar_t body[2048];
  if (!taskId.empty()) {
    // JSON-escaped: an ordinary id is unchanged, and no id can break the document.
    // At most 1500 characters of escaped text, cut between escapes: a cut inside one would
    // leave a lone backslash that escapes the closing quote.
    constexpr size_t kMaxEscaped = 1500;
    std::wstring escaped;
    for (wchar_t c : taskId) {
      std::wstring piece;
      if (c == L'"' || c == L'\\') {
        piece = {L'\\', c};
      } else if (c < 0x20) {
        wchar_t code[8];
        _snwprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
        piece = code;
      } else {
        piece = c;
      }
      if (escaped.size() + piece.size() > kMaxEscaped) break;
      escaped += piece;
    }
    _snwprintf(body, 2048,
               L"{\"version\":%i, \"action\": %i, \"stateId\": %i , \"error\": %i, \"taskId\":\"%s\", \"timestamp\": %ld }",
               1, 1, stateId, error, escaped.c_str(), static_cast<long>(timestamp));
  } else {
    _snwprintf(body, 2048, L"{\"version\":%i, \"action\": %i, \"stateId\": %i , \"error\": %i, \"timestamp\": %ld }", 1,
               1, stateId, error, static_cast<long>(timestamp));
  }
  body[2047] = 0;
  return body;
}

}  // namespace palisk

namespace {

constexpr char kLogSource[] = "productconfig.cpp";
using namespace RovEveduzodi::BinaryLogger;

std::wstring ProgramFolder() { return ov::FolderOf(ov::ModuleFilePath(nullptr)); }

using ov::FileExists;

std::wstring RemoveAll(std::wstring text, const std::wstring& part) {
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part)) text.erase(at, part.size());
  return text;
}

// Decimal conversion that stops at the first non-digit (0 when there is none).
int32_t Decimal(const std::wstring& text) { return static_cast<int32_t>(std::wcstol(text.c_str(), nullptr, 10)); }

// latest.dat holds a version and a folder name on one line.
constexpr uint64_t kMaxLatestDatBytes = 64 * 1024;

}  // namespace

std::wstring CProductConfig::Local(const wchar_t* name) const { return ov::JoinPath(m_basePath, name); }

int32_t CProductConfig::SetData(const std::wstring& basePath, const std::wstring& configUrl,
                                const std::wstring& configFile, int architecture, bool loadNow, bool silent,
                                const std::wstring& defaultUrl) {
  m_configFile = configFile;
  m_configUrl = configUrl;
  if (!m_configUrl.empty() && m_configUrl.find(L"installer.xml") == std::wstring::npos) {
    m_configUrl = palisk::UrlJoin(m_configUrl, L"installer.xml");
  }
  m_baseUrl = RemoveAll(configUrl, L"installer.xml");
  m_startingBaseUrl = m_baseUrl;
  m_silent = silent;
  m_basePath = basePath;
  m_architecture = architecture;
  m_defaultUrl = defaultUrl;
  m_loaded = false;
  m_downloader.SetBasePath(basePath.c_str());
  PALISK_LOG(kInfo, L"SetData: config url = \"%s\"; base path = \"%s\"; base url = \"%s\".", m_configUrl.c_str(),
             m_basePath.c_str(), m_baseUrl.c_str());
  if (loadNow) {
    const int32_t result = ReloadData();
    if (result != 0) {
      PALISK_LOG(kError, L"ReloadData failed with error = %d.", result);
      return result;
    }
  }
  return 0;
}

void CProductConfig::GetConfigXml(std::wstring& localPath) {
  localPath = Local(L"installer.xml");
  PALISK_LOG(kInfo, L"m_configUrl[%s], configXmlFinalPath[%s]", m_configUrl.c_str(), localPath.c_str());
  if (!m_configFile.empty() && FileExists(m_configFile)) {
    PALISK_LOG(kInfo, L"The \"%s\" file is already present, copying it to \"%s\".", m_configFile.c_str(),
               localPath.c_str());
    CopyFileW(m_configFile.c_str(), localPath.c_str(), FALSE);
    return;
  }
  PALISK_LOG(kInfo, L"The \"%s\" file is not present, downloading it from \"%s\".", m_configFile.c_str(),
             m_configUrl.c_str());
  if (!m_configUrl.empty()) {
    for (int32_t left = kRetries; left > 0; --left) {
      const int32_t result = m_downloader.downloadSinglefile(m_configUrl.c_str(), localPath.c_str(), 0, L"");
      PALISK_LOG(kInfo, L"downloadSinglefile ret [%d], retryCountdown[%d]", result, left);
      if (result == 0) return;
      if (left > 1) palisk::WaitForRetry(kRetryWaitMs);
    }
  }
  std::wstring parent;
  palisk::GetParentImagePath(parent);
  std::wstring fallback = ov::JoinPath(ov::FolderOf(parent), L"installer.xml");
  if (parent.empty() || !FileExists(fallback)) fallback = ov::JoinPath(ProgramFolder(), L"installer.xml");
  CopyFileW(fallback.c_str(), localPath.c_str(), FALSE);
}

HRESULT CProductConfig::LoadDataFromFile(const std::wstring& path) {
  PALISK_LOG(kInfo, L"LoadDataFromFile: %s ", path.c_str());
  palisk::XmlDocument document;
  HRESULT result = document.Create();
  if (FAILED(result)) {
    PALISK_LOG(kError, L"[retval = %d]", GetLastError());
    return result;
  }
  bool loaded = false;
  result = document.Load(path, loaded);
  if (!loaded) {
    PALISK_LOG(kError, L"[retVal = %d] [loadsuccess = %d] [lasterror = %d]", result, loaded ? 1 : 0, GetLastError());
    return FAILED(result) ? result : E_FAIL;
  }
  std::wstring downloadUrl;
  result = document.SelectText(L"//config/downloadUrl", downloadUrl);
  if (result != S_OK) {
    PALISK_LOG(kError, L"selectSingleNode downloadUrl failed %ld ", result);
    return result;
  }
  m_baseUrl = downloadUrl;

  m_proxyServer.clear();
  m_proxyUser.clear();
  m_proxyPassword.clear();
  m_proxyPort = 0;
  struct Field {
    const wchar_t* xpath;
    std::wstring* target;
  };
  std::wstring port, autodetect, keep;
  const Field fields[] = {
      {L"//config/proxyServer", &m_proxyServer},   {L"//config/proxyPort", &port},
      {L"//config/proxyUser", &m_proxyUser},       {L"//config/proxyPass", &m_proxyPassword},
      {L"//config/autodetectProxy", &autodetect},  {L"//config/installLink", &m_installLink},
      {L"//config/statusLink", &m_statusLink},     {L"//config/keepSettings", &keep},
  };
  bool portFound = false, autodetectFound = false, keepFound = false;
  for (const Field& field : fields) {
    const HRESULT found = document.SelectText(field.xpath, *field.target);
    if (found != S_OK) {
      PALISK_LOG(kWarning, L"selectSingleNode %s failed %ld ", field.xpath, found);
      continue;
    }
    if (field.target == &port) portFound = true;
    if (field.target == &autodetect) autodetectFound = true;
    if (field.target == &keep) keepFound = true;
  }
  m_proxyPort = portFound ? static_cast<uint32_t>(Decimal(port)) : 0;
  m_autoDetectProxy = !(autodetectFound && autodetect == L"0");
  m_keepSettings = keepFound && keep == L"1";
  return 0;
}

int32_t CProductConfig::ResolveDownloadLink(std::wstring& link) {
  const std::wstring local = Local(L"latest.dat");
  const int32_t result = m_downloader.downloadSinglefile(palisk::UrlJoin(link, L"latest.dat").c_str(), local.c_str(), 0, L"");
  if (result != 0) return result;
  std::string text;
  if (!ov::ReadWholeFile(local, text, kMaxLatestDatBytes)) {
    if (GetLastError() != ERROR_FILE_TOO_LARGE) return 0;
    PALISK_LOG(kError, L"latest.dat is larger than %u bytes: it names no kit folder.",
               static_cast<unsigned>(kMaxLatestDatBytes));
    return ERROR_FILE_TOO_LARGE;
  }
  std::wstring folder;
  if (!palisk::KitFolderFromLatestDat(text, folder)) return 0;
  link = palisk::UrlJoin(link, folder);
  PALISK_LOG(kInfo, L"Palisk download link = \"%s\".", link.c_str());
  return 0;
}

bool CProductConfig::DownloadKitCatalog() {
  const std::wstring url = palisk::UrlJoin(m_baseUrl, L"kit.cat");
  const std::wstring local = Local(L"kit.cat");
  for (int32_t attempt = kRetries; attempt > 0; --attempt) {
    const int32_t result = m_downloader.downloadSinglefile(url.c_str(), local.c_str(), 1, L"");
    if (result == 0) return true;
    PALISK_LOG(kWarning, L"Failed downloading kit catalog from [%s] to [%s] [retval = %d]", url.c_str(), local.c_str(),
               result);
    PALISK_LOG(kNotice, L"Failed, retry [number = %d] after [%d ms]", attempt, kRetryWaitMs);
    palisk::WaitForRetry(kRetryWaitMs);
  }
  return false;
}

int32_t CProductConfig::ReloadData() {
  logging::CallTrace trace(L"CProductConfig::ReloadData : getting the palisk data (data.xml)");
  if (m_loaded) {
    PALISK_LOG(kInfo, L"Data already loaded.");
    return 0;
  }
  std::wstring configXml;
  GetConfigXml(configXml);
  m_baseUrl = m_startingBaseUrl;
  if (!FileExists(configXml)) {
    PALISK_LOG(kError, L"Cannot find installer xml file \"%s\".", configXml.c_str());
    return palisk::run_result::kConfigurationMissing;
  }
  const HRESULT configResult = LoadDataFromFile(configXml);
  m_downloader.SetProxy(m_proxyServer.c_str(), m_proxyPort, m_proxyUser.c_str(), m_proxyPassword.c_str(), m_proxyMode,
                        m_autoDetectProxy);
  if (m_baseUrl.empty()) m_baseUrl = m_defaultUrl;
  const int32_t linkResult = ResolveDownloadLink(m_baseUrl);
  if (linkResult != 0) {
    PALISK_LOG(kError, L"Parsing download link (%s) failed with error %d.", m_baseUrl.c_str(), linkResult);
  }
  if (m_architecture & kArch64) m_baseUrl = palisk::UrlJoin(m_baseUrl, L"x64");
  else if (m_architecture & kArch32) m_baseUrl = palisk::UrlJoin(m_baseUrl, L"win32");

  if (!DownloadKitCatalog()) {
    PALISK_LOG(kError, L"Failed to download the kit's catalog file.");
    return CFileDownloader::kNotValid;
  }
  std::wstring dataXml = Local(L"data.xml");
  PALISK_LOG(kInfo, L"m_baseUrl[%s], dataXmlFinalPath[%s]", m_baseUrl.c_str(), dataXml.c_str());
  if (!m_baseUrl.empty()) {
    const std::wstring url = palisk::UrlJoin(m_baseUrl, L"data.xml");
    const int32_t result = m_downloader.downloadSinglefile(url.c_str(), dataXml.c_str(), 1, L"");
    if (result != 0) {
      PALISK_LOG(kWarning, L"Downloading data.xml (\"%s\") failed with error %d.", url.c_str(), result);
      DeleteFileW(dataXml.c_str());
    } else {
      PALISK_LOG(kInfo, L"Downloading data.xml (\"%s\") succeeded.", url.c_str());
    }
  }
  m_xmlEdits.clear();
  m_product.localBaseUrl = m_baseUrl.c_str();
  if (!FileExists(dataXml)) {
    PALISK_LOG(kInfo, L"Could not download file data.xml (\"%s\") does not exist, using data.xml near executable folder.",
               dataXml.c_str());
    dataXml = ov::JoinPath(ProgramFolder(), L"data.xml");
  }
  const int32_t result = LoadKitData(dataXml);
  if (result != 0) PALISK_LOG(kError, L"Loading data from local data.xml failed with error = %d.", result);
  if (result == 0) {
    m_loaded = true;
    if (configResult != 0 || linkResult == 0) {
      std::wstring parameters = m_product.parameters.c_str();
      parameters += L" currentDownloadLink=\"" + palisk::UrlForQuotedArgument(m_baseUrl) + L"\"";
      m_product.parameters = parameters.c_str();
    }
  }
  PALISK_LOG(kInfo, L"ReloadData leave... return value = %d.", result);
  return result;
}

int32_t CProductConfig::LoadKitData(const std::wstring& dataXml) {
  PALISK_LOG(kInfo, L"Loading data from \"%s\".", dataXml.c_str());
  palisk::XmlDocument document;
  HRESULT result = document.Create();
  if (FAILED(result)) {
    PALISK_LOG(kError, L"Failed to create XML instance, error = %u.", GetLastError());
    return result & 0xFFFF;
  }
  bool loaded = false;
  result = document.Load(dataXml, loaded);
  if (!loaded) {
    PALISK_LOG(kError, L"Failed to parse \"%s\" - return error = %d, loadsuccess = %d, last error = %u.",
               dataXml.c_str(), result, loaded ? 1 : 0, GetLastError());
    // The low 16 bits of what the load returned (S_FALSE gives 1); a load that "succeeded"
    // without a document must not read as success.
    const int32_t code = result & 0xFFFF;
    return code != 0 ? code : palisk::run_result::kKitDataEmpty;
  }
  std::wstring text;
  if (document.SelectText(L"//root/manufacturer", text) == S_OK) m_product.manufacturer = text.c_str();
  if (document.SelectText(L"//root/productname", text) == S_OK) m_product.productName = text.c_str();
  PALISK_LOG(kInfo, L"Loading data: product name = \"%s\".", m_product.productName.c_str());
  if (document.SelectText(L"//root/UpgradeCode", text) == S_OK) m_product.upgradeCode = text.c_str();
  PALISK_LOG(kInfo, L"Loading data: upgrade code = \"%s\".", m_product.upgradeCode.c_str());
  if (document.SelectText(L"//root/minspaceavailabe", text) == S_OK) m_product.minimumSpaceMb = Decimal(text);
  PALISK_LOG(kInfo, L"Loading data: minimum space available = %d.", m_product.minimumSpaceMb);
  if (document.SelectText(L"//root/retry_fail", text) == S_OK) {
    m_product.retryCount = Decimal(text);
    PALISK_LOG(kInfo, L"Loading data: number of retries if download fails = %d.", m_product.retryCount);
  }
  m_product.process = L"Installer.exe";
  m_product.parameters = L"";
  ov::ScopedComPtr<IXMLDOMNode> runCommand;
  if (document.SelectNode(L"//root/run_command", runCommand) == S_OK && runCommand) {
    std::wstring process, parameters;
    if (palisk::XmlDocument::Attribute(runCommand.Get(), L"proc", process) != S_OK) return 0;
    palisk::XmlDocument::Attribute(runCommand.Get(), L"params", parameters);
    PALISK_LOG(kInfo, L"Loading data: process = \"%s\"; parameters = \"%s\".", process.c_str(), parameters.c_str());
    // The kit's installer is always "Installer.exe" with the kit parameters built here.
  }

  ov::ScopedComPtr<IXMLDOMNode> files;
  result = document.SelectNode(L"//root/files", files);
  if (result != S_OK || !files) {
    PALISK_LOG(kError, L"Could not find //root/files node in data.xml; error = %d.", GetLastError());
    return (result == S_OK ? S_FALSE : result) & 0xFFFF;
  }
  ov::ScopedComPtr<IXMLDOMNode> child;
  result = files->get_firstChild(child.Receive());
  if (FAILED(result)) {
    PALISK_LOG(kWarning, L"Could not get the children of the //root/files node in data.xml; error = %d.", GetLastError());
    return result & 0xFFFF;
  }
  std::wstring folder = m_basePath;
  if (m_architecture & kArch64) folder = ov::JoinPath(folder, L"x64");
  else if (m_architecture & kArch32) folder = ov::JoinPath(folder, L"x86");
  while (child) {
    if (palisk::XmlDocument::HasAttributes(child.Get())) {
      std::wstring name, md5, size, url, required;
      if (palisk::XmlDocument::Attribute(child.Get(), L"name", name) == S_OK) {
        palisk::XmlDocument::Attribute(child.Get(), L"md5", md5);
        // A size counts only as a positive number: "0", "abc" or "-5" is no usable size.
        const bool sized = palisk::XmlDocument::Attribute(child.Get(), L"size", size) == S_OK && Decimal(size) > 0;
        palisk::XmlDocument::Attribute(child.Get(), L"url", url);
        const bool hasRequired = palisk::XmlDocument::Attribute(child.Get(), L"required", required) == S_OK;
        if (!sized) m_allSizesKnown = false;
        const bool isRequired = !hasRequired || !(required == L"0" || required == L"false");
        if (isRequired) {
          const std::wstring linkName = name;
          for (wchar_t& c : name) {
            if (c == L'/') c = L'\\';
          }
          if (!palisk::IsSafeKitFileName(name)) {
            PALISK_LOG(kError, L"Invalid name found for file read from data.xml: \"%s\".", name.c_str());
            return palisk::run_result::kKitDataUnreadable;
          }
          const std::wstring local = ov::JoinPath(folder, name.c_str());
          std::wstring link = !url.empty() ? url : palisk::UrlJoin(m_product.localBaseUrl.c_str(), linkName);
          for (wchar_t& c : link) {
            if (c == L'\\') c = L'/';
          }
          PALISK_LOG(kInfo, L"Adding file to download list: name = \"%s\"; path = \"%s\"; link = \"%s\".", name.c_str(),
                     local.c_str(), link.c_str());
          const int error = m_downloader.AddFile(link.c_str(), local.c_str(), md5.c_str(),
                                                 sized ? static_cast<uint32_t>(Decimal(size)) : 0, false);
          if (error != 0) {
            PALISK_LOG(kError, L"Could not add file \"%s\" to download list; error = %d.", name.c_str(), error);
            return error;
          }
        }
      }
    }
    ov::ScopedComPtr<IXMLDOMNode> next;
    if (child->get_nextSibling(next.Receive()) != S_OK) break;
    child = std::move(next);
  }
  return 0;
}

int32_t CProductConfig::GetProductInformation(ProductInformation& information) {
  const int32_t result = ReloadData();
  if (result != 0) return result;
  information.manufacturer = m_product.manufacturer;
  information.productName = m_product.productName;
  information.spare1 = m_product.spare1;
  information.spare2 = m_product.spare2;
  information.upgradeCode = m_product.upgradeCode;
  information.minimumSpaceMb = m_product.minimumSpaceMb;
  information.retryCount = m_product.retryCount;
  return 0;
}

std::wstring CProductConfig::GetProductDisplayName() const {
  if (!m_product.manufacturer.IsEmpty()) return m_product.manufacturer.c_str();
  return palisk::Translate(L"_LSOrvaneLS_");
}

int32_t CProductConfig::DownloadFiles() {
  logging::CallTrace trace(L"CProductConfig::DownloadFiles : starting file download phase");
  int32_t result = ReloadData();
  if (result != 0) {
    PALISK_LOG(kWarning, L"DownloadFiles/ReloadData ret [%d]", result);
    return result;
  }
  const std::wstring caption = GetProductDisplayName();
  // No kit file may eat into the free space the kit asks for.
  m_downloader.SetFreeSpaceMargin(m_product.minimumSpaceMb > 0 ? uint64_t(m_product.minimumSpaceMb) << 20 : 0);
  m_downloader.AttachProgress(m_silent, caption, m_product.retryCount,
                              m_allSizesKnown ? CFileDownloader::kCountBytes : CFileDownloader::kCountFiles);
  result = m_downloader.DownloadFiles(m_product.retryCount, m_silent ? 1 : 0);
  if (result != 0) PALISK_LOG(kWarning, L"DownloadFiles/DownloadFiles error = %d.", result);
  // A quit confirmed after the last check still counts: nothing is installed then.
  if (m_downloader.CloseProgress() == CFileDownloader::kCancelled) result = CFileDownloader::kCancelled;
  PALISK_LOG(kInfo, L"DownloadFiles exit code = %d.", result);
  return result;
}

int32_t CProductConfig::GetRunCommand(std::wstring& path, std::wstring& parameters, int architecture) {
  if (architecture == kArch32) path = ov::JoinPath(ov::JoinPath(m_basePath, L"x86"), m_product.process.c_str());
  else if (architecture == kArch64) path = ov::JoinPath(ov::JoinPath(m_basePath, L"x64"), m_product.process.c_str());
  else return ERROR_NOT_SUPPORTED;
  parameters = m_product.parameters.c_str();
  return 0;
}

HRESULT CProductConfig::ApplyXmlEdits(bool save) {
  palisk::XmlDocument document;
  HRESULT result = document.Create();
  if (FAILED(result)) return result;
  bool loaded = false;
  result = document.Load(Local(L"installer.xml"), loaded);
  if (!loaded) return FAILED(result) ? result : E_FAIL;
  for (const auto& edit : m_xmlEdits) {
    ov::ScopedComPtr<IXMLDOMNode> node;
    if (document.SelectNode(edit.first.c_str(), node) != S_OK || !node) return S_FALSE;
    BSTR text = SysAllocString(edit.second.c_str());
    result = node->put_text(text);
    SysFreeString(text);
    if (FAILED(result)) return result;
  }
  (void)save;  // the document is edited in memory; nothing in the run reads it back
  return S_OK;
}

int32_t CProductConfig::ReportInstallProgress(int state, int error) {
  if (m_installLink.empty()) return 0;
  wchar_t suffix[32];
  _snwprintf(suffix, 32, L"%i/%i", state, error);
  suffix[31] = 0;
  const std::wstring url = palisk::UrlJoin(m_installLink, suffix);
  PALISK_LOG(kInfo, L"CProductConfig::ReportStatus access link \"%s\".", url.c_str());
  return m_downloader.downloadSinglefile(url.c_str(), ov::JoinPath(ProgramFolder(), L"tmp.txt").c_str(), 0, L"");
}

int32_t CProductConfig::ReportStatus(int stateId, int error, const std::wstring& taskId) {
  if (m_statusLink.empty()) return 0;
  const std::wstring body = palisk::StatusBody(stateId, error, taskId, static_cast<int32_t>(std::time(nullptr)));
  PALISK_LOG(kInfo, L"CProductConfig::ReportStatus access link \"%s\" with content = \"%s\".", m_statusLink.c_str(),
             body.c_str());
  return m_downloader.downloadSinglefile(m_statusLink.c_str(), ov::JoinPath(ProgramFolder(), L"tmp.txt").c_str(), 0,
                                         body.c_str());
}

void CProductConfig::ShowDownloadError(int error, const std::wstring& taskId) {
  const wchar_t* token =
      error == CFileDownloader::kNotValid
          ? L"_LSAfter performing the integrity check for downloaded files we detected an issue. Please download and "
            L"try again and if the issue persists contact the system administrator.LS_"
          : L"_LSAn error occured while downloading the filesLS_";
  const std::wstring text = palisk::Translate(token);
  if (m_silent) PALISK_LOG(kError, L"[PALISK] %s", text.c_str());
  else ov::gui::ShowMessageBox(text, GetProductDisplayName(), MB_OK | MB_ICONERROR);
  ReportInstallProgress(5, error);
  ReportStatus(211, error, taskId);
}
