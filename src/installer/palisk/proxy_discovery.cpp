#include "installer/palisk/proxy_discovery.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <mutex>

namespace palisk {
namespace {

constexpr uint32_t kNoProxy = ERROR_NO_DATA;  // 232
// Any fixed public http address of the publisher; only its proxy answer matters.
constexpr wchar_t kDetectionUrl[] = L"http://www.orvane.example/";

void FreeText(LPWSTR text) {
  if (text != nullptr) GlobalFree(text);
}

int SchemeCode(const std::wstring& name) {
  if (_wcsicmp(name.c_str(), L"http") == 0) return kSchemeHttp;
  if (_wcsicmp(name.c_str(), L"https") == 0) return kSchemeHttps;
  return kSchemeOther;
}

uint32_t FromHostAndPort(const std::wstring& text, ProxyRecord& record) {
  std::wstring host;
  uint32_t port = 0;
  if (!ParseHostAndPort(text, host, port)) return kNoProxy;
  record.host = host;
  record.port = port;
  record.user.clear();
  record.password.clear();
  return 0;
}

uint32_t FromUserSettings(int scheme, ProxyRecord& record) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return GetLastError();
  const std::wstring list = config.lpszProxy != nullptr ? config.lpszProxy : L"";
  FreeText(config.lpszAutoConfigUrl);
  FreeText(config.lpszProxy);
  FreeText(config.lpszProxyBypass);
  return ProxyFromList(list, scheme, record);
}

uint32_t FromDefaultConfiguration(ProxyRecord& record) {
  WINHTTP_PROXY_INFO info = {};
  if (!WinHttpGetDefaultProxyConfiguration(&info)) return GetLastError();
  const std::wstring text = info.lpszProxy != nullptr ? info.lpszProxy : L"";
  FreeText(info.lpszProxy);
  FreeText(info.lpszProxyBypass);
  return FromHostAndPort(text, record);
}

// One session for automatic detection, shared by the whole process and closed at exit.
HINTERNET g_detectionSession = nullptr;
std::once_flag g_detectionOnce;

void CloseDetectionSession() {
  if (g_detectionSession != nullptr) WinHttpCloseHandle(g_detectionSession);
  g_detectionSession = nullptr;
}

uint32_t FromAutomaticDetection(ProxyRecord& record) {
  DWORD openError = 0;
  std::call_once(g_detectionOnce, [&openError] {
    g_detectionSession = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (g_detectionSession == nullptr) openError = GetLastError();
    else std::atexit(&CloseDetectionSession);
  });
  if (g_detectionSession == nullptr) return openError != 0 ? openError : ERROR_INVALID_HANDLE;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
  options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info = {};
  if (!WinHttpGetProxyForUrl(g_detectionSession, kDetectionUrl, &options, &info)) return GetLastError();
  const std::wstring text = info.lpszProxy != nullptr ? info.lpszProxy : L"";
  FreeText(info.lpszProxy);
  FreeText(info.lpszProxyBypass);
  return FromHostAndPort(text, record);
}

}  // namespace

bool ParseHostAndPort(const std::wstring& text, std::wstring& host, uint32_t& port) {
  if (text.empty()) return false;
  const size_t colon = text.rfind(L':');
  if (colon == std::wstring::npos) return false;
  // As "%u" reads it (spaces, a sign, then digits up to the first other character), through the
  // system C library: swscanf would bring the toolchain's whole scanf into palisk.exe.
  const wchar_t* digits = text.c_str() + colon + 1;
  wchar_t* end = nullptr;
  const unsigned long value = wcstoul(digits, &end, 10);
  if (end == digits) return false;
  host = text.substr(0, colon);
  port = static_cast<uint32_t>(value);
  return true;
}

uint32_t ProxyFromList(const std::wstring& list, int scheme, ProxyRecord& record) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(L';', start);
    if (end == std::wstring::npos) end = list.size();
    const std::wstring entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    const size_t equals = entry.find(L'=');
    const int entryScheme = equals == std::wstring::npos ? kSchemeAny : SchemeCode(entry.substr(0, equals));
    const std::wstring value = equals == std::wstring::npos ? entry : entry.substr(equals + 1);
    if (entryScheme == scheme && FromHostAndPort(value, record) == 0) return 0;
  }
  return kNoProxy;
}

uint32_t DiscoverProxy(int scheme, ProxyRecord& record) {
  uint32_t result = FromUserSettings(scheme, record);
  if (result == 0) return 0;
  result = FromUserSettings(kSchemeAny, record);
  if (result == 0) return 0;
  result = FromDefaultConfiguration(record);
  if (result == 0) return 0;
  return FromAutomaticDetection(record);
}

}  // namespace palisk
