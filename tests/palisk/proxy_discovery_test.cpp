// Proxy discovery: the user's list, entries without a scheme, and the host:port rules.
#include "installer/palisk/proxy_discovery.h"

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

namespace {

using palisk::ProxyRecord;

TEST(ProxyList, SchemesPickTheirOwnEntries) {
  ProxyRecord record;
  ASSERT_EQ(0u, palisk::ProxyFromList(L"http=a:8080;https=b:8443", palisk::kSchemeHttp, record));
  EXPECT_EQ(L"a", record.host);
  EXPECT_EQ(8080u, record.port);
  ASSERT_EQ(0u, palisk::ProxyFromList(L"http=a:8080;https=b:8443", palisk::kSchemeHttps, record));
  EXPECT_EQ(L"b", record.host);
  EXPECT_EQ(8443u, record.port);
  ASSERT_EQ(0u, palisk::ProxyFromList(L"HTTPS=c:1", palisk::kSchemeHttps, record)) << "scheme names ignore case";
}

TEST(ProxyList, EntriesWithoutSchemeAnswerTheAnySearch) {
  ProxyRecord record;
  EXPECT_EQ(232u, palisk::ProxyFromList(L"a:3128", palisk::kSchemeHttp, record));
  ASSERT_EQ(0u, palisk::ProxyFromList(L"a:3128", palisk::kSchemeAny, record));
  EXPECT_EQ(L"a", record.host);
  EXPECT_EQ(3128u, record.port);
}

TEST(ProxyList, WhatIsNotAProxyIsSkipped) {
  ProxyRecord record;
  record.host = L"untouched";
  EXPECT_EQ(232u, palisk::ProxyFromList(L"ftp=f:21", palisk::kSchemeHttp, record));
  EXPECT_EQ(232u, palisk::ProxyFromList(L"http=bare-host", palisk::kSchemeHttp, record));
  EXPECT_EQ(232u, palisk::ProxyFromList(L"; https=b:8443", palisk::kSchemeHttps, record))
      << "entries are not trimmed: \" https\" is not https";
  EXPECT_EQ(L"untouched", record.host);
  ASSERT_EQ(0u, palisk::ProxyFromList(L";;http=bare;http=good:81;", palisk::kSchemeHttp, record));
  EXPECT_EQ(L"good", record.host);
}

TEST(ProxyHostAndPort, TheLastColonSeparatesThePort) {
  std::wstring host;
  uint32_t port = 0;
  ASSERT_TRUE(palisk::ParseHostAndPort(L"h:1;k:2", host, port));
  EXPECT_EQ(L"h:1;k", host);
  EXPECT_EQ(2u, port);
  EXPECT_FALSE(palisk::ParseHostAndPort(L"", host, port));
  EXPECT_FALSE(palisk::ParseHostAndPort(L"host:", host, port));
  EXPECT_FALSE(palisk::ParseHostAndPort(L"host", host, port));
  // The port is read as "%u" reads it: spaces first, then digits up to the first other character.
  ASSERT_TRUE(palisk::ParseHostAndPort(L"proxy: 8080", host, port));
  EXPECT_EQ(L"proxy", host);
  EXPECT_EQ(8080u, port);
  ASSERT_TRUE(palisk::ParseHostAndPort(L"proxy:3128/", host, port));
  EXPECT_EQ(3128u, port);
  EXPECT_FALSE(palisk::ParseHostAndPort(L"proxy:http", host, port));
}

TEST(DiscoverProxy, MachineDefaultProxyIsFoundWhenTheUserHasNone) {
  WINHTTP_PROXY_INFO saved = {};
  ASSERT_TRUE(WinHttpGetDefaultProxyConfiguration(&saved));
  WINHTTP_PROXY_INFO proxy = {};
  proxy.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  proxy.lpszProxy = const_cast<wchar_t*>(L"machine-proxy.test:8081");
  if (!WinHttpSetDefaultProxyConfiguration(&proxy)) GTEST_SKIP() << "cannot set the machine proxy here";
  ProxyRecord record;
  const uint32_t result = palisk::DiscoverProxy(palisk::kSchemeHttps, record);
  WinHttpSetDefaultProxyConfiguration(&saved);
  if (saved.lpszProxy != nullptr) GlobalFree(saved.lpszProxy);
  if (saved.lpszProxyBypass != nullptr) GlobalFree(saved.lpszProxyBypass);
  ASSERT_EQ(0u, result);
  EXPECT_EQ(L"machine-proxy.test", record.host);
  EXPECT_EQ(8081u, record.port);
  EXPECT_TRUE(record.user.empty());
}

}  // namespace
