// Hypra, the maker's HTTP transport library (hypra.dll), as Palisk uses it: two C exports
// (caller cleans) and a request object with four operations. Values are passed by address:
// 32-bit numbers and booleans as pointers to a 32-bit value, texts as zero-terminated UTF-8,
// the local file as zero-terminated UTF-16, callbacks and contexts as plain pointers.
#pragma once

#include <cstddef>
#include <cstdint>

// Option ids.
enum HypraOption : int32_t {
  HYPRA_OPT_RequestKind = 99999,
  HYPRA_OPT_Proxy = 1,
  HYPRA_OPT_ProxyAuth = 2,
  HYPRA_OPT_HttpsIgnoreAll = 10,
  HYPRA_OPT_UserAgent = 12,
  HYPRA_OPT_ConnectTimeout = 13,
  HYPRA_OPT_IOTimeout = 14,
  HYPRA_OPT_UseCURL = 30,
  HYPRA_OPT_GenReport_Server = 900,
  HYPRA_OPT_GenReport_Url = 901,
  HYPRA_OPT_GenReport_LocalFile_W = 903,
  HYPRA_OPT_GenReport_FormField = 905,
  HYPRA_OPT_GenReport_HeaderFn = 907,
  HYPRA_OPT_GenReport_HeaderFnCtx = 908,
  HYPRA_OPT_GenReport_UseHttps = 909,
  HYPRA_OPT_GenReport_DisableCookie = 912,
  HYPRA_OPT_GenReport_MaxStatusContinue = 914,
  HYPRA_OPT_GenReport_HttpHeader_A = 915,
  HYPRA_OPT_GenReport_ProgressFn = 917,
  HYPRA_OPT_GenReport_ProgressFnCtx = 918,
  HYPRA_OPT_GenReport_Method = 921,
  HYPRA_OPT_GenReport_VerifyHttps = 922,
  HYPRA_OPT_GenReport_WriteFn = 923,
  HYPRA_OPT_GenReport_WriteFnCtx = 924,
};

// The request kind the HYPRA_OPT_GenReport_* options configure.
constexpr int32_t kHypraGenReport = 9;

extern "C" {
typedef size_t (*HypraWriteFn)(const void* data, size_t size, size_t count, void* context);
typedef void (*HypraHeaderFn)(const char* name, const char* value, void* context);
// 0 lets the transfer go on; anything else ends it at once (Perform gives kHypraStopped).
typedef int (*HypraProgressFn)(uint32_t bytesSinceLastCall, void* context);
}

// Value of HYPRA_OPT_GenReport_FormField: one "name=value" form field (value already encoded).
struct HypraFormField {
  uint32_t size;  // sizeof the record: 12 in 32-bit code, 24 in 64-bit code
  const char* name;
  const char* value;
};

class IHypraRequest {
 public:
  virtual int Reserved() = 0;  // not used by Palisk
  virtual int SetOption(int32_t option, const void* value) = 0;
  // 0 only when the whole response arrived (and, with a local file, is in it).
  virtual int Perform(int32_t kind) = 0;
  virtual int Cleanup(int32_t kind) = 0;
};

extern "C" {
typedef IHypraRequest* (*HypraNewFn)();
typedef void (*HypraDeleteFn)(IHypraRequest* request);
}

// Perform's results in the stand-in: WinHTTP and Win32 errors pass through as Windows reports
// them (12002 timeout, 12029 cannot connect, 12030 connection reset or aborted, 12007 name not
// resolved, 12157 TLS failure; socket codes seen under Wine are turned into these), plus its
// own codes:
constexpr int kHypraHttpStatusBase = 100000;  // + the HTTP status of a response that is not 2xx
constexpr int kHypraTruncated = 100001;       // fewer body bytes than Content-Length announced
constexpr int kHypraWriteRefused = 100002;    // the write callback took less than it was given
constexpr int kHypraBadOptions = 100003;      // no server, bad port, unknown request kind
constexpr int kHypraStopped = 100004;         // the progress callback asked to stop
