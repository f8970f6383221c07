// The proxy the system itself would use for a scheme, asked of WinHTTP in a fixed order: the
// user's settings for that scheme, the user's settings without a scheme, the machine's
// default WinHTTP proxy, automatic detection.
#pragma once

#include <cstdint>
#include <string>

namespace palisk {

struct ProxyRecord {
  std::wstring host;  // empty: no proxy
  uint32_t port = 0;
  std::wstring user;
  std::wstring password;  // plain
};

enum ProxyScheme : int { kSchemeAny = -1, kSchemeOther = 0, kSchemeHttp = 1, kSchemeHttps = 2 };

// 0 with `record` filled, or the error of the last source tried (`record` untouched).
uint32_t DiscoverProxy(int scheme, ProxyRecord& record);

// The parsing rules, for the tests.
// "host:port" with the host before the last ":" and a "%u" port; false when not a proxy.
bool ParseHostAndPort(const std::wstring& text, std::wstring& host, uint32_t& port);
// The first entry of a user proxy list ("http=a:1;https=b:2;c:3") for `scheme`; 232 if none.
uint32_t ProxyFromList(const std::wstring& list, int scheme, ProxyRecord& record);

}  // namespace palisk
