#include "outside/hypra/hypra_request.h"

#include <cstring>
#include <new>

namespace hypra {
namespace {

uint32_t Number(const void* value) { return value != nullptr ? *static_cast<const uint32_t*>(value) : 0; }

std::string Text(const void* value) { return value != nullptr ? static_cast<const char*>(value) : ""; }

}  // namespace

int Request::SetOption(int32_t option, const void* value) {
  RequestOptions& o = m_options;
  switch (option) {
    case HYPRA_OPT_RequestKind:
      // Selecting the kind starts its option set afresh (headers and form fields included).
      o = RequestOptions();
      o.kind = static_cast<int32_t>(Number(value));
      return o.kind == kHypraGenReport ? 0 : kHypraBadOptions;
    case HYPRA_OPT_Proxy: o.proxy = Text(value); return 0;
    case HYPRA_OPT_ProxyAuth: o.proxyAuth = Text(value); return 0;
    case HYPRA_OPT_HttpsIgnoreAll: o.ignoreAllCertificateErrors = Number(value) != 0; return 0;
    case HYPRA_OPT_UserAgent: o.userAgent = Text(value); return 0;
    case HYPRA_OPT_ConnectTimeout: o.connectTimeoutSeconds = Number(value); return 0;
    case HYPRA_OPT_IOTimeout: o.ioTimeoutSeconds = Number(value); return 0;
    case HYPRA_OPT_UseCURL: o.useCurl = Number(value) != 0; return 0;
    case HYPRA_OPT_GenReport_Server: o.server = Text(value); return 0;
    case HYPRA_OPT_GenReport_Url: o.path = Text(value); return 0;
    case HYPRA_OPT_GenReport_LocalFile_W:
      o.localFile = value != nullptr ? static_cast<const wchar_t*>(value) : L"";
      return 0;
    case HYPRA_OPT_GenReport_FormField: {
      const auto* field = static_cast<const HypraFormField*>(value);
      if (field == nullptr || field->size != sizeof(HypraFormField) || field->name == nullptr) {
        return ERROR_INVALID_PARAMETER;
      }
      o.formFields.emplace_back(field->name, field->value != nullptr ? field->value : "");
      return 0;
    }
    case HYPRA_OPT_GenReport_HeaderFn: o.header = reinterpret_cast<HypraHeaderFn>(const_cast<void*>(value)); return 0;
    case HYPRA_OPT_GenReport_HeaderFnCtx: o.headerContext = const_cast<void*>(value); return 0;
    case HYPRA_OPT_GenReport_UseHttps: o.useHttps = Number(value) != 0; return 0;
    case HYPRA_OPT_GenReport_DisableCookie: o.disableCookies = Number(value) != 0; return 0;
    case HYPRA_OPT_GenReport_MaxStatusContinue: o.maxStatusContinue = Number(value); return 0;
    case HYPRA_OPT_GenReport_HttpHeader_A: o.headers.push_back(Text(value)); return 0;
    case HYPRA_OPT_GenReport_ProgressFn:
      o.progress = reinterpret_cast<HypraProgressFn>(const_cast<void*>(value));
      return 0;
    case HYPRA_OPT_GenReport_ProgressFnCtx: o.progressContext = const_cast<void*>(value); return 0;
    case HYPRA_OPT_GenReport_Method: {
      const std::string method = Text(value);
      if (method != "GET" && method != "POST") return ERROR_INVALID_PARAMETER;
      o.method = method;
      return 0;
    }
    case HYPRA_OPT_GenReport_VerifyHttps: o.verifyHttps = Number(value) != 0; return 0;
    case HYPRA_OPT_GenReport_WriteFn: o.write = reinterpret_cast<HypraWriteFn>(const_cast<void*>(value)); return 0;
    case HYPRA_OPT_GenReport_WriteFnCtx: o.writeContext = const_cast<void*>(value); return 0;
    default:
      return ERROR_NOT_SUPPORTED;
  }
}

int Request::Perform(int32_t kind) {
  if (kind != kHypraGenReport || m_options.kind != kHypraGenReport) return kHypraBadOptions;
  const int result = PerformRequest(m_options);
  // Headers and form fields belong to one request: the caller sets them again for the next.
  m_options.headers.clear();
  m_options.formFields.clear();
  return result;
}

int Request::Cleanup(int32_t) { return 0; }

}  // namespace hypra

extern "C" __declspec(dllexport) IHypraRequest* HypraNew() { return new (std::nothrow) hypra::Request(); }

extern "C" __declspec(dllexport) void HypraDelete(IHypraRequest* request) {
  delete static_cast<hypra::Request*>(request);
}
