// CHypraWrapper: every request Palisk sends goes through here, over Hypra (hypra.dll beside
// the executable). A URL becomes Hypra's option set; a failed request falls back across three
// connection modes (configured proxy, discovered proxy, direct) and the mode that worked is
// where the next request starts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "framework/module_path.h"
#include "framework/utf8.h"
#include "installer/palisk/proxy_discovery.h"
#include "installer/palisk/run_result_codes.h"
#include "libheaders/downloadstatus.h"
#include "libheaders/hypra.h"
#include "logging/binary_logger.h"
#include "logging/log_binding.h"

namespace hyprawrapper_detail {

constexpr char kLogSource[] = "hyprawrapper.h";
constexpr char kUtilsLogSource[] = "utils.cpp";

using ov::ToUtf8;

}  // namespace hyprawrapper_detail

// Scheme, host, port and path of `url`, or false (with the log line) when it cannot be split.
// The scheme is found by the first "http://" anywhere in the URL, else "https://"
// (case-sensitive); the host runs to the first "/", which must exist.
inline bool SplitUrl(const std::wstring& url, std::wstring& scheme, std::wstring& host, uint32_t& port,
                     std::wstring& path) {
  using hyprawrapper_detail::kUtilsLogSource;
  const char* const kLogSource = kUtilsLogSource;
  size_t at = url.find(L"http://");
  size_t skip = 7;
  scheme = L"http";
  if (at == std::wstring::npos) {
    at = url.find(L"https://");
    skip = 8;
    scheme = L"https";
  }
  if (at == std::wstring::npos || at + skip >= url.size()) {
    PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo, L"ERROR: Invalid protocol: [url = %s]", url.c_str());
    return false;
  }
  const std::wstring rest = url.substr(at + skip);
  const size_t slash = rest.find(L'/');
  if (slash == std::wstring::npos) {
    PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo, L"ERROR:Invalid server name [urls=%s]", url.c_str());
    return false;
  }
  host = rest.substr(0, slash);
  path = rest.substr(slash + 1);
  const size_t colon = host.find(L':');
  if (colon != std::wstring::npos) {
    port = 0;
    for (size_t i = colon + 1; i < host.size() && host[i] >= L'0' && host[i] <= L'9'; ++i) {
      port = port * 10 + static_cast<uint32_t>(host[i] - L'0');
    }
    host.erase(colon);
  } else {
    port = scheme == L"https" ? 443 : 80;
  }
  return true;
}

// UTF-8 bytes of `text`, every byte but letters, digits and "./-~_" written as "%XX".
inline std::string PercentEncode(const std::wstring& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : hyprawrapper_detail::ToUtf8(text)) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '/' ||
        c == '-' || c == '~' || c == '_') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += digits[c >> 4];
      encoded += digits[c & 15];
    }
  }
  return encoded;
}

class CHypraWrapper {
 public:
  enum Mode : int32_t { kConfigured = 0, kDiscovered = 1, kDirect = 2, kUndetermined = 3 };

  // The outcome of one Hypra run when no listener is given.
  struct RequestResult {
    uint32_t errorCode = 0;
    uint32_t httpStatus = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };

  // Takes a response body in pieces, in place of a local file. It is started afresh before
  // every attempt; a piece it refuses fails the transfer at once.
  class IBodySink {
   public:
    virtual bool Restart() = 0;
    virtual bool Write(const void* data, size_t size) = 0;
  };

  // Alive during one SendRequest: what the listener callbacks need.
  struct RequestContext {
    DownloadStatus::IManager* listener = nullptr;
    std::wstring localFile;
    uint32_t contentLength = 0;
    bool cancelled = false;  // the listener answered a progress call with a cancel
  };

  CHypraWrapper();
  ~CHypraWrapper();
  CHypraWrapper(const CHypraWrapper&) = delete;
  CHypraWrapper& operator=(const CHypraWrapper&) = delete;

  // The proxy from the configuration XML (password already decrypted).
  void SetConfiguredProxy(const palisk::ProxyRecord& proxy);
  // 0; 1627 when the URL cannot be split; -2 when the listener cancelled the transfer (no
  // other mode is tried then); otherwise the code of the last failed attempt.
  uint32_t SendRequest(const wchar_t* url, const wchar_t* localFile, DownloadStatus::IManager* listener,
                       const wchar_t* body);
  // The same with the body going to `sink`: Hypra hands it over through its write callback.
  uint32_t SendRequest(const wchar_t* url, IBodySink* sink, DownloadStatus::IManager* listener, const wchar_t* body);

  int32_t ProxyMode() const { return m_proxyMode; }
  uint32_t LoadResult() const { return m_loadResult; }
  const RequestResult& LastResult() const { return m_result; }
  // Tests put known "discovered" proxies in place of what the machine reports.
  void OverrideDiscoveredProxies(const palisk::ProxyRecord& http, const palisk::ProxyRecord& https) {
    m_discoveredHttp = http;
    m_discoveredHttps = https;
  }

 private:
  struct Options {
    uint32_t useCurl = 1;
    uint32_t emptyExpect = 1;
    std::string server = ":";
    std::string path;
    uint32_t useHttps = 0;
    uint32_t verifyHttps = 0;
    std::string proxy;
    std::string proxyAuth = ":";
    const char* method = "GET";
    uint32_t ioTimeout = 30;
    uint32_t connectTimeout = 30;
    std::string userAgent;
    std::vector<std::pair<std::string, std::string>> formFields;
    std::wstring localFile;
    uint32_t disableCookies = 0;
    uint32_t maxStatusContinue = 0;
    HypraWriteFn write = nullptr;
    void* writeContext = nullptr;
    HypraHeaderFn header = nullptr;
    void* headerContext = nullptr;
    HypraProgressFn progress = nullptr;
    void* progressContext = nullptr;
  };

  // The lock is not recursive: taking it again on its owning thread is a programming error
  // (a callback calling back into the client) and ends the process.
  class Guard {
   public:
    explicit Guard(CHypraWrapper& owner) : m_owner(owner) { owner.Lock(); }
    ~Guard() { m_owner.Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CHypraWrapper& m_owner;
  };

  void Lock();
  void Unlock();
  uint32_t LoadHypra();
  void Reset();
  uint32_t Send(const wchar_t* url, const wchar_t* localFile, IBodySink* sink, DownloadStatus::IManager* listener,
                const wchar_t* body);
  void SetUpRequest(bool https, const std::wstring& localFile, IBodySink* sink, const std::string& server,
                    const std::string& path, RequestContext* context);
  void ApplyProxy(const palisk::ProxyRecord& proxy);
  uint32_t Run();
  // How a refused option's value is written in its log line.
  enum class Shown { kText, kWideText, kNumber, kPointer, kNothing };
  int Apply(int32_t id, const char* name, const void* value, Shown shown, int& lastError);

  // Called by hypra.dll from inside Perform. No exception may unwind through the library's
  // frames (on x64 it would, leaving the library mid-transfer): one escaping a callback, such
  // as the lock's re-entry error, ends the process instead.
  static size_t WriteToResult(const void* data, size_t size, size_t count, void* context) noexcept;
  static size_t WriteToSink(const void* data, size_t size, size_t count, void* context) noexcept;
  static void ParseStatusLine(const char* name, const char* value, void* context) noexcept;
  static void WatchContentLength(const char* name, const char* value, void* context) noexcept;
  // Non-zero (the transfer stops) once the listener reports a cancel.
  static int ForwardProgress(uint32_t bytes, void* context) noexcept;

  // The text-log binding, held for the client's whole life: without a holder every call trace
  // of a download would load and unload log.dll around itself.
  logging::LogHandle m_logBinding;
  CRITICAL_SECTION m_lock;
  volatile uint64_t m_lockOwner = 0;
  HMODULE m_module = nullptr;
  HypraNewFn m_new = nullptr;
  HypraDeleteFn m_delete = nullptr;
  IHypraRequest* m_request = nullptr;
  uint32_t m_loadResult = 0;
  Options m_options;
  palisk::ProxyRecord m_discoveredHttp;
  palisk::ProxyRecord m_discoveredHttps;
  palisk::ProxyRecord m_configured;
  bool m_useDiscoveredProxies = true;
  int32_t m_proxyMode = kUndetermined;
  RequestResult m_result;
};

// ---------------------------------------------------------------------------------------

inline CHypraWrapper::CHypraWrapper() {
  InitializeCriticalSectionAndSpinCount(&m_lock, 1000);
  m_loadResult = LoadHypra();
  if (m_request == nullptr) return;  // usable, but every request fails with 21
  m_options.userAgent = "VAZEzezedavu-Dezoz";
  m_options.verifyHttps = 0;
  m_options.maxStatusContinue = 9999;
  palisk::DiscoverProxy(palisk::kSchemeHttp, m_discoveredHttp);
  palisk::DiscoverProxy(palisk::kSchemeHttps, m_discoveredHttps);
}

inline CHypraWrapper::~CHypraWrapper() {
  if (m_request != nullptr) m_request->Cleanup(kHypraGenReport);
  {
    Guard guard(*this);
    if (m_request != nullptr && m_delete != nullptr) m_delete(m_request);
    m_request = nullptr;
    if (m_module != nullptr) FreeLibrary(m_module);
    m_module = nullptr;
  }
  DeleteCriticalSection(&m_lock);
}

inline void CHypraWrapper::Lock() {
  const uint64_t self = GetCurrentThreadId();
  if (m_lockOwner == self) {
    throw std::system_error(std::error_code(36, std::system_category()), "CHypraWrapper lock taken twice");
  }
  EnterCriticalSection(&m_lock);
  m_lockOwner = self;
}

inline void CHypraWrapper::Unlock() {
  m_lockOwner = 0;
  LeaveCriticalSection(&m_lock);
}

inline uint32_t CHypraWrapper::LoadHypra() {
  Guard guard(*this);
  if (m_module != nullptr) FreeLibrary(m_module);
  // Only beside the executable: no other folder is searched.
  const std::wstring path = ov::FolderOf(ov::ModuleFilePath(nullptr)) + L"\\hypra.dll";
  m_module = ::LoadLibraryW(path.c_str());
  m_new = ov::GetProc<HypraNewFn>(m_module, "HypraNew");
  m_delete = ov::GetProc<HypraDeleteFn>(m_module, "HypraDelete");
  if (m_module == nullptr || m_new == nullptr || m_delete == nullptr) return 5002;
  m_request = m_new();
  return m_request != nullptr ? 0 : 21;
}

inline void CHypraWrapper::SetConfiguredProxy(const palisk::ProxyRecord& proxy) {
  m_configured = proxy;
  m_useDiscoveredProxies = true;
}

inline void CHypraWrapper::Reset() {
  Guard guard(*this);
  if (m_request != nullptr) {
    const uint32_t kind = kHypraGenReport;
    m_request->SetOption(HYPRA_OPT_RequestKind, &kind);
  }
  m_options.connectTimeout = 30;
  m_options.ioTimeout = 30;
  m_options.useHttps = 0;
  m_options.verifyHttps = 0;
  m_options.method = "GET";
  m_options.useCurl = 1;
  m_options.emptyExpect = 1;
  m_options.proxyAuth = ":";
  m_options.proxy.clear();
  m_options.server = ":";
  m_options.path.clear();
  m_options.formFields.clear();
}

inline void CHypraWrapper::SetUpRequest(bool https, const std::wstring& localFile, IBodySink* sink,
                                        const std::string& server, const std::string& path, RequestContext* context) {
  Guard guard(*this);
  m_options.useHttps = https ? 1 : 0;
  m_options.localFile = localFile;
  m_options.write = sink != nullptr ? &WriteToSink : nullptr;
  m_options.writeContext = sink;
  m_options.server = server;
  m_options.path = path;
  m_options.method = "GET";
  if (context->listener != nullptr) {
    m_options.progress = &ForwardProgress;
    m_options.progressContext = context;
    m_options.header = &WatchContentLength;
    m_options.headerContext = context;
  } else {
    m_options.progress = nullptr;
    m_options.progressContext = nullptr;
    m_options.header = nullptr;  // the status-line parser on the result
    m_options.headerContext = nullptr;
  }
  m_options.useCurl = 1;
}

inline void CHypraWrapper::ApplyProxy(const palisk::ProxyRecord& proxy) {
  Guard guard(*this);
  if (proxy.host.empty()) {
    m_options.proxy.clear();
  } else {
    char port[16];
    std::snprintf(port, sizeof port, ":%i", static_cast<int>(proxy.port));
    m_options.proxy = hyprawrapper_detail::ToUtf8(proxy.host) + port;
  }
  m_options.proxyAuth = proxy.user.empty()
                            ? std::string(":")
                            : hyprawrapper_detail::ToUtf8(proxy.user) + ":" + hyprawrapper_detail::ToUtf8(proxy.password);
}

inline int CHypraWrapper::Apply(int32_t id, const char* name, const void* value, Shown shown, int& lastError) {
  using hyprawrapper_detail::kLogSource;
  const int result = m_request->SetOption(id, value);
  if (result == 0) return 0;
  lastError = result;
  if (shown == Shown::kNothing) return result;
  // Written only when refused: the common path formats nothing.
  std::string text;
  char buffer[24];
  switch (shown) {
    case Shown::kText: text = value != nullptr ? static_cast<const char*>(value) : "<null>"; break;
    case Shown::kWideText: text = hyprawrapper_detail::ToUtf8(static_cast<const wchar_t*>(value)); break;
    case Shown::kNumber: text = std::to_string(*static_cast<const uint32_t*>(value)); break;
    default:
      std::snprintf(buffer, sizeof buffer, "0x%p", value);
      text = buffer;
  }
  PALISK_LOG(RovEveduzodi::BinaryLogger::kWarning, L"Hypra : Failed to set %S - option value = %S [error = %d]", name,
             text.c_str(), result);
  return result;
}

inline uint32_t CHypraWrapper::Run() {
  using hyprawrapper_detail::kLogSource;
  Guard guard(*this);
  if (m_request == nullptr) return 21;
  Options& o = m_options;
  m_result = RequestResult();
  const auto fn = [](auto callback) { return reinterpret_cast<const void*>(callback); };

  int lastError = 0;
  if (!o.localFile.empty()) {
    Apply(HYPRA_OPT_GenReport_LocalFile_W, "HYPRA_OPT_GenReport_LocalFile_W", o.localFile.c_str(), Shown::kWideText,
          lastError);
  } else {
    HypraWriteFn write = o.write != nullptr ? o.write : &WriteToResult;
    void* writeContext = o.write != nullptr ? o.writeContext : &m_result;
    Apply(HYPRA_OPT_GenReport_WriteFn, "HYPRA_OPT_GenReport_WriteFn", fn(write), Shown::kPointer, lastError);
    Apply(HYPRA_OPT_GenReport_WriteFnCtx, "HYPRA_OPT_GenReport_WriteFnCtx", writeContext, Shown::kPointer, lastError);
  }
  HypraHeaderFn header = o.header != nullptr ? o.header : &ParseStatusLine;
  void* headerContext = o.header != nullptr ? o.headerContext : &m_result;
  Apply(HYPRA_OPT_GenReport_HeaderFn, "HYPRA_OPT_GenReport_HeaderFn", fn(header), Shown::kPointer, lastError);
  Apply(HYPRA_OPT_GenReport_HeaderFnCtx, "HYPRA_OPT_GenReport_HeaderFnCtx", headerContext, Shown::kPointer, lastError);
  if (o.progress != nullptr) {
    Apply(HYPRA_OPT_GenReport_ProgressFn, "HYPRA_OPT_GenReport_ProgressFn", fn(o.progress), Shown::kPointer, lastError);
    Apply(HYPRA_OPT_GenReport_ProgressFnCtx, "HYPRA_OPT_GenReport_ProgressFnCtx", o.progressContext, Shown::kPointer,
          lastError);
  }
  Apply(HYPRA_OPT_UseCURL, "HYPRA_OPT_UseCURL", &o.useCurl, Shown::kNumber, lastError);
  if (o.emptyExpect) {
    Apply(HYPRA_OPT_GenReport_HttpHeader_A, "HYPRA_OPT_GenReport_HttpHeader_A", "Expect:", Shown::kText, lastError);
  }
  if (o.maxStatusContinue != 0) {
    Apply(HYPRA_OPT_GenReport_MaxStatusContinue, "HYPRA_OPT_GenReport_MaxStatusContinue", &o.maxStatusContinue,
          Shown::kNumber, lastError);
  }
  Apply(HYPRA_OPT_GenReport_Method, "HYPRA_OPT_GenReport_Method", o.method, Shown::kText, lastError);
  Apply(HYPRA_OPT_GenReport_Server, "HYPRA_OPT_GenReport_Server", o.server.c_str(), Shown::kText, lastError);
  Apply(HYPRA_OPT_GenReport_Url, "HYPRA_OPT_GenReport_Url", o.path.empty() ? "/" : o.path.c_str(), Shown::kText,
        lastError);
  Apply(HYPRA_OPT_Proxy, "HYPRA_OPT_Proxy", o.proxy.c_str(), Shown::kText, lastError);
  Apply(HYPRA_OPT_ProxyAuth, "HYPRA_OPT_ProxyAuth", o.proxyAuth.c_str(), Shown::kText, lastError);
  Apply(HYPRA_OPT_GenReport_UseHttps, "HYPRA_OPT_GenReport_UseHttps", &o.useHttps, Shown::kNumber, lastError);
  Apply(HYPRA_OPT_GenReport_VerifyHttps, "HYPRA_OPT_GenReport_VerifyHttps", &o.verifyHttps, Shown::kNumber, lastError);
  const uint32_t ignoreAll = o.verifyHttps ? 0 : 1;
  Apply(HYPRA_OPT_HttpsIgnoreAll, "HYPRA_OPT_HttpsIgnoreAll", &ignoreAll, Shown::kNumber, lastError);
  Apply(HYPRA_OPT_ConnectTimeout, "HYPRA_OPT_ConnectTimeout", &o.connectTimeout, Shown::kNumber, lastError);
  Apply(HYPRA_OPT_IOTimeout, "HYPRA_OPT_IOTimeout", &o.ioTimeout, Shown::kNumber, lastError);
  if (!o.userAgent.empty()) {
    Apply(HYPRA_OPT_UserAgent, "HYPRA_OPT_UserAgent", o.userAgent.c_str(), Shown::kText, lastError);
  }
  Apply(HYPRA_OPT_GenReport_DisableCookie, "HYPRA_OPT_GenReport_DisableCookie", &o.disableCookies, Shown::kNumber,
        lastError);
  if (std::string(o.method) == "POST") {
    for (const auto& field : o.formFields) {
      const HypraFormField record = {sizeof(HypraFormField), field.first.c_str(), field.second.c_str()};
      Apply(HYPRA_OPT_GenReport_FormField, nullptr, &record, Shown::kNothing, lastError);
    }
  }
  if (lastError != 0) {
    PALISK_LOG(RovEveduzodi::BinaryLogger::kWarning, L"Could not set Hypra options, last error = %d", lastError);
    m_result.errorCode = static_cast<uint32_t>(lastError);
    return static_cast<uint32_t>(lastError);
  }
  const int performed = m_request->Perform(kHypraGenReport);
  if (performed != 0) {
    PALISK_LOG(RovEveduzodi::BinaryLogger::kInfo, L"Hypra perform error = %d", performed);
  }
  m_result.errorCode = static_cast<uint32_t>(performed);
  return static_cast<uint32_t>(performed);
}

inline uint32_t CHypraWrapper::SendRequest(const wchar_t* url, const wchar_t* localFile,
                                           DownloadStatus::IManager* listener, const wchar_t* body) {
  return Send(url, localFile, nullptr, listener, body);
}

inline uint32_t CHypraWrapper::SendRequest(const wchar_t* url, IBodySink* sink, DownloadStatus::IManager* listener,
                                           const wchar_t* body) {
  return Send(url, nullptr, sink, listener, body);
}

inline uint32_t CHypraWrapper::Send(const wchar_t* url, const wchar_t* localFile, IBodySink* sink,
                                    DownloadStatus::IManager* listener, const wchar_t* body) {
  std::wstring scheme, host, path;
  uint32_t port = 0;
  if (url == nullptr || !SplitUrl(url, scheme, host, port, path)) return palisk::run_result::kFunctionFailed;
  char portText[16];
  std::snprintf(portText, sizeof portText, ":%d", static_cast<int>(port));
  const std::string server = hyprawrapper_detail::ToUtf8(host) + portText;
  const std::string requestPath = "/" + hyprawrapper_detail::ToUtf8(path);
  const bool https = _wcsicmp(scheme.c_str(), L"https") == 0;
  const std::wstring file = localFile != nullptr ? localFile : L"";
  const std::wstring text = body != nullptr ? body : L"";

  RequestContext context;
  context.listener = listener;
  context.localFile = file;
  Reset();
  SetUpRequest(https, file, sink, server, requestPath, &context);

  int n = kConfigured;
  if (m_proxyMode == kDiscovered) n = kDiscovered;
  if (m_proxyMode == kDirect) n = m_configured.host.empty() ? kConfigured : kDirect;
  bool directDone = false;
  bool secondPass = false;
  uint32_t code = 0;
  for (;;) {
    if (n == kConfigured) {
      if (!m_configured.host.empty()) ApplyProxy(m_configured);
      else directDone = true;  // nothing configured: this attempt is the direct one
    } else if (n == kDiscovered) {
      const palisk::ProxyRecord& discovered = https ? m_discoveredHttps : m_discoveredHttp;
      if (m_useDiscoveredProxies && !discovered.host.empty()) ApplyProxy(discovered);
      else n = kDirect;
    }
    if (n == kDirect) {
      if (directDone || secondPass) return code;
      if (m_proxyMode != kDirect) {
        Reset();
        SetUpRequest(https, file, sink, server, requestPath, &context);
      }
    }
    if (!text.empty()) {
      Guard guard(*this);
      m_options.method = "POST";
      m_options.formFields.assign(1, std::make_pair(std::string("json"), PercentEncode(text)));
    }
    if (sink != nullptr && !sink->Restart()) return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    code = Run();
    // The user's cancel ends the request: no other connection mode is tried for it.
    if (context.cancelled) return static_cast<uint32_t>(DownloadStatus::kCancelled);
    if (code == 0) {
      if (m_proxyMode == kUndetermined) {
        m_proxyMode = n == kConfigured ? (directDone ? kDirect : kConfigured) : n;
      }
      return 0;
    }
    m_proxyMode = kUndetermined;
    if (n == kDirect && !secondPass) {
      secondPass = true;
      n = kConfigured;
      continue;
    }
    if (++n >= 3) return code;
  }
}

inline size_t CHypraWrapper::WriteToResult(const void* data, size_t size, size_t count, void* context) noexcept {
  if (data == nullptr || context == nullptr) return 0;
  static_cast<RequestResult*>(context)->body.append(static_cast<const char*>(data), size * count);
  return count;
}

inline size_t CHypraWrapper::WriteToSink(const void* data, size_t size, size_t count, void* context) noexcept {
  if (data == nullptr || context == nullptr) return 0;
  return static_cast<IBodySink*>(context)->Write(data, size * count) ? count : 0;
}

inline void CHypraWrapper::ParseStatusLine(const char* name, const char* value, void* context) noexcept {
  using hyprawrapper_detail::kLogSource;
  auto* result = static_cast<RequestResult*>(context);
  if (result == nullptr) return;
  const bool first = result->headers.empty();
  result->headers.emplace_back(name != nullptr ? name : "", value != nullptr ? value : "");
  if (!first) return;
  const std::string line = name != nullptr ? name : "";
  bool parsed = false;
  if (line.compare(0, 4, "HTTP") == 0) {
    size_t at = line.find(' ');
    while (at != std::string::npos && at < line.size() && line[at] == ' ') ++at;
    if (at != std::string::npos && at < line.size() && line[at] >= '0' && line[at] <= '9') {
      result->httpStatus = static_cast<uint32_t>(std::strtoul(line.c_str() + at, nullptr, 10));
      parsed = true;
    }
  }
  if (!parsed) PALISK_LOG(RovEveduzodi::BinaryLogger::kNotice, L"The status line could not be parsed.");
}

inline void CHypraWrapper::WatchContentLength(const char* name, const char* value, void* context) noexcept {
  auto* request = static_cast<RequestContext*>(context);
  if (request == nullptr || request->listener == nullptr || name == nullptr) return;
  if (_stricmp(name, "Content-Length") != 0) return;
  request->contentLength = static_cast<uint32_t>(std::strtoul(value != nullptr ? value : "0", nullptr, 10));
  request->listener->OnBeginDownload(DownloadStatus::FileIdentity());
}

inline int CHypraWrapper::ForwardProgress(uint32_t bytes, void* context) noexcept {
  auto* request = static_cast<RequestContext*>(context);
  if (request == nullptr || request->listener == nullptr) return 0;
  DownloadStatus::ProgressPair progress;
  progress.total = request->contentLength;
  progress.received = bytes;
  if (request->listener->OnDownloadProgress(DownloadStatus::FileIdentity(), progress) != DownloadStatus::kCancelled) {
    return 0;
  }
  request->cancelled = true;
  return 1;
}
