#include "support/kit_server.h"

#include <windows.h>
#include <winhttp.h>

#include <fstream>
#include <iterator>

#include "framework/scoped_winhttp.h"
#include "support/test_support.h"

namespace testing_support {

bool KitServer::Connect() {
  std::ifstream in(WideToUtf8(BuildFolder() + L"\\testdata\\server\\ports.json"));
  if (!in) return false;
  m_ports = nlohmann::json::parse(in, nullptr, false);
  std::ifstream kits(WideToUtf8(BuildFolder() + L"\\testdata\\server\\kits.json"));
  if (kits) m_kits = nlohmann::json::parse(kits, nullptr, false);
  return !m_ports.is_discarded() && m_ports.contains("http");
}

std::wstring KitServer::KitUrl(const char* kit) const {
  return m_kits.is_object() && m_kits.contains(kit) ? Utf8ToWide(m_kits[kit].get<std::string>()) : std::wstring();
}

std::wstring KitServer::TaggedKitUrl(const std::string& tag, const char* kit) const {
  return L"http://127.0.0.1:" + std::to_wstring(Port("http")) + L"/v/" + Utf8ToWide(tag) + L"/" + Utf8ToWide(kit) + L"/";
}

uint16_t KitServer::Port(const char* kind) const {
  return m_ports.contains(kind) ? m_ports[kind].get<uint16_t>() : 0;
}

std::wstring KitServer::Url(const char* kind, const std::wstring& path) const {
  const std::wstring scheme = std::string(kind) == "https" ? L"https" : L"http";
  return scheme + L"://127.0.0.1:" + std::to_wstring(Port(kind)) + path;
}

bool KitServer::AddRules(const nlohmann::json& rules) {
  return PlainRequest(L"POST", Port("http"), L"/__control/rules/add", rules.dump()) == "OK";
}

nlohmann::json KitServer::Requests(const std::string& needle) {
  const nlohmann::json all = nlohmann::json::parse(PlainRequest(L"GET", Port("http"), L"/__control/requests", ""),
                                                   nullptr, false);
  nlohmann::json matching = nlohmann::json::array();
  if (all.is_discarded()) return matching;
  for (const auto& record : all) {
    if (record.value("path", "").find(needle) != std::string::npos) matching.push_back(record);
  }
  return matching;
}

std::string PlainRequest(const wchar_t* method, uint16_t port, const wchar_t* path, const std::string& body) {
  ov::ScopedInternet session(WinHttpOpen(L"palisk-tests", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) return std::string();
  ov::ScopedInternet connection(WinHttpConnect(session.Get(), L"127.0.0.1", port, 0));
  if (!connection.IsValid()) return std::string();
  ov::ScopedInternet request(WinHttpOpenRequest(connection.Get(), method, path, nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  if (!request.IsValid() ||
      !WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    return std::string();
  }
  std::string answer;
  char buffer[8192];
  DWORD read = 0;
  while (WinHttpReadData(request.Get(), buffer, sizeof buffer, &read) && read > 0) answer.append(buffer, read);
  return answer;
}

}  // namespace testing_support
