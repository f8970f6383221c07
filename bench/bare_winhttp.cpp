#include "bare_winhttp.h"

#include <vector>

#include "framework/scoped_handle.h"

namespace {

// Host, port and path of `url`; false when WinHTTP cannot split it.
bool Split(const std::wstring& url, std::wstring& host, INTERNET_PORT& port, std::wstring& path) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  wchar_t hostBuffer[256], pathBuffer[2048];
  parts.lpszHostName = hostBuffer;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = pathBuffer;
  parts.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  host.assign(parts.lpszHostName, parts.dwHostNameLength);
  path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  port = parts.nPort;
  return true;
}

}  // namespace

BareHttpConnection::BareHttpConnection(const std::wstring& url) {
  std::wstring host, path;
  INTERNET_PORT port = 0;
  if (!Split(url, host, port, path)) return;
  m_session.Set(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  m_connection.Set(WinHttpConnect(m_session.Get(), host.c_str(), port, 0));
}

uint32_t BareHttpConnection::Get(const std::wstring& url, const std::wstring& file) {
  std::wstring host, path;
  INTERNET_PORT port = 0;
  if (!Split(url, host, port, path)) return GetLastError();
  ov::ScopedInternet request(WinHttpOpenRequest(m_connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request.IsValid() ||
      !WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    return GetLastError();
  }
  ov::ScopedHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!out.IsValid()) return GetLastError();
  std::vector<char> buffer(64 * 1024);
  DWORD read = 0;
  while (WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read > 0) {
    DWORD written = 0;
    if (!WriteFile(out.Get(), buffer.data(), read, &written, nullptr)) return GetLastError();
  }
  return 0;
}
