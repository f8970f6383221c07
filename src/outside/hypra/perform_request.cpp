// One HTTP(S) request over WinHTTP, the way Hypra's "general report" kind runs it.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/scoped_handle.h"
#include "framework/scoped_winhttp.h"
#include "framework/utf8.h"
#include "outside/hypra/content_length.h"
#include "outside/hypra/hypra_request.h"

namespace hypra {
namespace {

constexpr DWORD kReadChunk = 64 * 1024;
// Unknown CA, wrong CN, expired or not yet valid, wrong usage: "ignore all".
constexpr DWORD kIgnoreAllCertificateErrors = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                                              SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                              SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;

using ov::FromUtf8;
using ov::ToUtf8;

std::string Base64(const std::string& data) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) group |= static_cast<uint8_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) group |= static_cast<uint8_t>(data[i + 2]);
    out += alphabet[group >> 18];
    out += alphabet[(group >> 12) & 63];
    out += i + 1 < data.size() ? alphabet[(group >> 6) & 63] : '=';
    out += i + 2 < data.size() ? alphabet[group & 63] : '=';
  }
  return out;
}

// Wine's WinHTTP sometimes reports socket errors where Windows reports WinHTTP ones; callers
// see Windows' codes either way.
int WinHttpError() {
  const DWORD error = GetLastError();
  if (error == WSAETIMEDOUT) return ERROR_WINHTTP_TIMEOUT;
  if (error == WSAECONNRESET || error == WSAECONNABORTED) return ERROR_WINHTTP_CONNECTION_ERROR;
  if (error == WSAECONNREFUSED) return ERROR_WINHTTP_CANNOT_CONNECT;
  return static_cast<int>(error);
}

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

DWORD QueryNumber(HINTERNET request, DWORD what, bool& present) {
  DWORD value = 0, size = sizeof value;
  present = WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value,
                                &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
  return value;
}

// The response's Content-Length, read as text: WINHTTP_QUERY_FLAG_NUMBER gives 32 bits only
// (and the 64-bit flag needs Windows 8).
bool QueryContentLength(HINTERNET request, uint64_t& length) {
  wchar_t text[32];
  DWORD size = sizeof text;
  length = 0;
  return WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX) &&
         ParseContentLength(text, length);
}

// Every header line in arrival order, the status line first as the name with an empty value.
void ReportHeaders(HINTERNET request, const RequestOptions& o) {
  if (o.header == nullptr) return;
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (size == 0) return;
  std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &raw[0], &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return;
  }
  raw.resize(size / sizeof(wchar_t));
  bool first = true;
  size_t at = 0;
  while (at < raw.size()) {
    size_t end = raw.find(L"\r\n", at);
    if (end == std::wstring::npos) end = raw.size();
    const std::string line = ToUtf8(raw.substr(at, end - at));
    at = end + 2;
    if (line.empty()) continue;
    if (first) {
      o.header(line.c_str(), "", o.headerContext);
      first = false;
      continue;
    }
    const size_t colon = line.find(':');
    std::string name = colon == std::string::npos ? line : line.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    o.header(name.c_str(), value.c_str(), o.headerContext);
  }
}

class BodySink {
 public:
  explicit BodySink(const RequestOptions& o) : m_options(o) {}
  ~BodySink() {
    if (!m_complete && m_file.IsValid()) {
      m_file.Close();
      DeleteFileW(m_options.localFile.c_str());
    }
  }
  DWORD Open() {
    if (m_options.localFile.empty()) return 0;
    m_file.Set(CreateFileW(m_options.localFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.IsValid() ? 0 : GetLastError();
  }
  int Write(const char* data, DWORD size) {
    if (m_file.IsValid()) {
      DWORD written = 0;
      if (!WriteFile(m_file.Get(), data, size, &written, nullptr) || written != size) return static_cast<int>(GetLastError());
      return 0;
    }
    if (m_options.write != nullptr && m_options.write(data, 1, size, m_options.writeContext) != size) {
      return kHypraWriteRefused;
    }
    return 0;
  }
  void Complete() {
    m_complete = true;
    m_file.Close();
  }

 private:
  const RequestOptions& m_options;
  ov::ScopedHandle m_file;
  bool m_complete = false;
};

// TLS 1.2, and 1.3 where the system has it, switched on by name: Windows 7's WinHTTP offers
// only TLS 1.0 unless asked, and servers that require 1.2 would refuse it.
void EnableModernTls(HINTERNET session) {
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
}

// Picks the strongest scheme the proxy offers that a user name and password can answer.
DWORD ChooseAuthScheme(DWORD supported) {
  for (DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                       WINHTTP_AUTH_SCHEME_BASIC}) {
    if ((supported & scheme) != 0) return scheme;
  }
  return 0;
}

bool AnswerProxyChallenge(HINTERNET request, const std::wstring& user, const std::wstring& password) {
  DWORD supported = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
  const DWORD scheme = ChooseAuthScheme(supported);
  return scheme != 0 &&
         WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, user.c_str(), password.c_str(), nullptr);
}

}  // namespace

int PerformRequest(const RequestOptions& o) {
  const size_t colon = o.server.rfind(':');
  if (colon == std::string::npos || colon == 0) return kHypraBadOptions;
  const std::wstring host = FromUtf8(o.server.substr(0, colon));
  const unsigned long port = std::strtoul(o.server.c_str() + colon + 1, nullptr, 10);
  if (port == 0 || port > 65535) return kHypraBadOptions;

  const std::wstring proxy = FromUtf8(o.proxy);
  ov::ScopedInternet session(WinHttpOpen(
      FromUtf8(o.userAgent).c_str(), proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
      proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) return WinHttpError();
  // Every wait is bounded: WinHTTP's receive-response wait is infinite unless set.
  const int connectMs = static_cast<int>(o.connectTimeoutSeconds * 1000);
  const int ioMs = static_cast<int>(o.ioTimeoutSeconds * 1000);
  WinHttpSetTimeouts(session.Get(), connectMs, connectMs, ioMs, ioMs);
  DWORD responseTimeout = static_cast<DWORD>(ioMs);
  WinHttpSetOption(session.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  EnableModernTls(session.Get());

  ov::ScopedInternet connection(WinHttpConnect(session.Get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
  if (!connection.IsValid()) return WinHttpError();
  ov::ScopedInternet request(WinHttpOpenRequest(connection.Get(), FromUtf8(o.method).c_str(), FromUtf8(o.path).c_str(),
                                                nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                o.useHttps ? WINHTTP_FLAG_SECURE : 0));
  if (!request.IsValid()) return WinHttpError();
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout);
  if (o.disableCookies) {
    DWORD feature = WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &feature, sizeof feature);
  }
  if (o.useHttps && (o.ignoreAllCertificateErrors || !o.verifyHttps)) {
    DWORD flags = kIgnoreAllCertificateErrors;
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }

  std::wstring headers;
  for (const std::string& line : o.headers) {
    const size_t separator = line.find(':');
    // "Name:" with no value asks for no such header (WinHTTP adds no Expect of its own).
    if (separator == std::string::npos || line.find_first_not_of(' ', separator + 1) == std::string::npos) continue;
    headers += FromUtf8(line) + L"\r\n";
  }
  const size_t proxySeparator = o.proxyAuth.find(':');
  const std::string proxyUser = proxySeparator == std::string::npos ? o.proxyAuth : o.proxyAuth.substr(0, proxySeparator);
  const std::string proxyPassword = proxySeparator == std::string::npos ? "" : o.proxyAuth.substr(proxySeparator + 1);
  const bool proxyCredentials = !proxy.empty() && !proxyUser.empty();
  // Wine's WinHTTP does not answer a proxy's 407 on a CONNECT tunnel; there the header is
  // sent up front instead (Windows answers the 407 as documented, below, and gets no such help).
  if (proxyCredentials && o.useHttps && RunningUnderWine()) {
    headers += L"Proxy-Authorization: Basic " + FromUtf8(Base64(proxyUser + ":" + proxyPassword)) + L"\r\n";
  }
  std::string body;
  if (o.method == "POST") {
    for (const auto& field : o.formFields) {
      if (!body.empty()) body += '&';
      body += field.first + "=" + field.second;
    }
    headers += L"Content-Type: application/x-www-form-urlencoded\r\n";
  }

  DWORD status = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!WinHttpSendRequest(request.Get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1L),
                            body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.Get(), nullptr)) {
      return WinHttpError();
    }
    bool present = false;
    status = QueryNumber(request.Get(), WINHTTP_QUERY_STATUS_CODE, present);
    if (status != HTTP_STATUS_PROXY_AUTH_REQ || !proxyCredentials || attempt == 1) break;
    // The documented answer to a 407: ask which schemes the proxy offers, set the
    // credentials for the strongest of them, send again.
    if (!AnswerProxyChallenge(request.Get(), FromUtf8(proxyUser), FromUtf8(proxyPassword))) break;
  }

  ReportHeaders(request.Get(), o);
  if (status < 200 || status > 299) return kHypraHttpStatusBase + static_cast<int>(status);

  uint64_t contentLength = 0;
  const bool lengthKnown = QueryContentLength(request.Get(), contentLength);
  BodySink sink(o);
  if (const DWORD error = sink.Open()) return static_cast<int>(error);
  std::vector<char> buffer(kReadChunk);
  uint64_t received = 0;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.Get(), buffer.data(), kReadChunk, &read)) return WinHttpError();
    if (read == 0) break;
    if (const int error = sink.Write(buffer.data(), read)) return error;
    received += read;
    if (o.progress != nullptr && o.progress(read, o.progressContext) != 0) return kHypraStopped;
  }
  // A connection closed early ends like a clean end of data: only the count tells.
  if (lengthKnown && received != contentLength) return kHypraTruncated;
  sink.Complete();
  return 0;
}

}  // namespace hypra
