// The yardstick the benchmarks compare with: plain WinHTTP GETs over one session and one
// keep-alive connection, 64 KiB reads to disk, no proxies, no checks.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

#include "framework/scoped_winhttp.h"

class BareHttpConnection {
 public:
  // `url` names the server (its path is ignored); IsValid() tells whether it could be opened.
  explicit BareHttpConnection(const std::wstring& url);
  bool IsValid() const { return m_connection.IsValid(); }
  // GETs `url`'s path into `file`; 0 or the Win32 error.
  uint32_t Get(const std::wstring& url, const std::wstring& file);

 private:
  ov::ScopedInternet m_session;
  ov::ScopedInternet m_connection;
};
