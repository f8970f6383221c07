// The hypra.dll stand-in's request object: the options of one request kind and a Perform that
// runs one real HTTP(S) request over WinHTTP.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "libheaders/hypra.h"

namespace hypra {

struct RequestOptions {
  int32_t kind = kHypraGenReport;
  std::string server;  // "host:port"
  std::string path = "/";
  std::string method = "GET";
  bool useHttps = false;
  bool verifyHttps = false;
  bool ignoreAllCertificateErrors = false;
  std::string proxy;       // "host:port", empty for a direct connection
  std::string proxyAuth;   // "user:password", ":" for none
  uint32_t connectTimeoutSeconds = 30;
  uint32_t ioTimeoutSeconds = 30;
  std::string userAgent;
  bool disableCookies = false;
  uint32_t maxStatusContinue = 0;
  bool useCurl = true;
  std::vector<std::string> headers;  // "Name: value"; "Name:" alone removes the header
  std::vector<std::pair<std::string, std::string>> formFields;
  std::wstring localFile;
  HypraWriteFn write = nullptr;
  void* writeContext = nullptr;
  HypraHeaderFn header = nullptr;
  void* headerContext = nullptr;
  HypraProgressFn progress = nullptr;
  void* progressContext = nullptr;
};

class Request final : public IHypraRequest {
 public:
  int Reserved() override { return 0; }
  int SetOption(int32_t option, const void* value) override;
  int Perform(int32_t kind) override;
  int Cleanup(int32_t kind) override;

  const RequestOptions& Options() const { return m_options; }

 private:
  RequestOptions m_options;
};

// Runs one request with `options`; 0 or an error code (see libheaders/hypra.h).
int PerformRequest(const RequestOptions& options);

}  // namespace hypra
