#include "installer/palisk/trust_api.h"

namespace Crypt {
namespace {

const TrustApi kSystemTrustApi = {WinVerifyTrust, WTHelperProvDataFromStateData, WTHelperGetProvSignerFromChain,
                                  WTHelperGetProvCertFromChain};
const TrustApi* g_trustApi = &kSystemTrustApi;

constexpr DWORD kOfflineRevocationBits = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

}  // namespace

const TrustApi& ActiveTrustApi() { return *g_trustApi; }

void SetTrustApi(const TrustApi* api) { g_trustApi = api != nullptr ? api : &kSystemTrustApi; }

ChainVerdict JudgeChainStatus(DWORD errorStatus) {
  if (errorStatus == CERT_TRUST_NO_ERROR) return ChainVerdict::kClean;
  if ((errorStatus & CERT_TRUST_IS_REVOKED) == 0 && (errorStatus & ~kOfflineRevocationBits) == 0) {
    return ChainVerdict::kRevocationUnknown;
  }
  return ChainVerdict::kRefused;
}

}  // namespace Crypt
