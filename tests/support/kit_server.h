// The shared kit server of the Windows-side tests (started by the KitServer CTest fixture):
// its ports, its fault rules and its record of requests, reached with plain WinHTTP.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace testing_support {

class KitServer {
 public:
  // Reads build\testdata\server\ports.json; false when the fixture did not start the server.
  bool Connect();

  uint16_t Port(const char* kind) const;  // "http", "https", "proxy", "bad_proxy"
  std::wstring Url(const char* kind, const std::wstring& path) const;

  // Base URL of a kit the fixture built ("basic", "dotdot", "nosize", "tampered", "onetoken").
  std::wstring KitUrl(const char* kit) const;
  // The same kit behind a per-test tag: "http://127.0.0.1:port/v/<tag>/<kit>/".
  std::wstring TaggedKitUrl(const std::string& tag, const char* kit) const;

  // Appends fault rules (see tools/kit/kitserver.py).
  bool AddRules(const nlohmann::json& rules);
  // Every request recorded so far whose path contains `needle`.
  nlohmann::json Requests(const std::string& needle);

 private:
  nlohmann::json m_ports;
  nlohmann::json m_kits;
};

// A GET or POST with WinHTTP; the body of the answer, or "" on failure.
std::string PlainRequest(const wchar_t* method, uint16_t port, const wchar_t* path, const std::string& body);

}  // namespace testing_support
