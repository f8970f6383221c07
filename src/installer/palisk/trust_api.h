// The WinTrust calls behind the signature checks, gathered in one table. Production uses the
// system's; tests install fakes that answer as Microsoft documents Windows' answers, so that
// the branches only real Windows takes (revocation data offline, secondary signatures) run
// under Wine too.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace Crypt {

// WINTRUST_DATA as Windows 8 and later know it: the signature settings pick one signature
// of a file and report how many secondary ones it has (older systems ignore them).
struct SignatureSettings {
  DWORD cbStruct;
  DWORD dwIndex;
  DWORD dwFlags;
  DWORD cSecondarySigs;
  DWORD dwVerifiedSigIndex;
  void* pCryptoPolicy;
};
constexpr DWORD kVerifySpecific = 0x1;
constexpr DWORD kGetSecondarySigCount = 0x2;

struct TrustData {
  WINTRUST_DATA data;
  SignatureSettings* pSignatureSettings;
};

struct TrustApi {
  LONG(WINAPI* verifyTrust)(HWND window, GUID* action, LPVOID data);
  CRYPT_PROVIDER_DATA*(WINAPI* providerData)(HANDLE state);
  CRYPT_PROVIDER_SGNR*(WINAPI* providerSigner)(CRYPT_PROVIDER_DATA* provider, DWORD signer, BOOL counterSigner,
                                               DWORD counterSignerIndex);
  CRYPT_PROVIDER_CERT*(WINAPI* providerCertificate)(CRYPT_PROVIDER_SGNR* signer, DWORD index);
};

// The table in use: the system's unless a test replaced it.
const TrustApi& ActiveTrustApi();
// Replaces the table (nullptr puts the system's back).
void SetTrustApi(const TrustApi* api);

// What a signer chain's error status says once WinVerifyTrust has accepted the signature.
enum class ChainVerdict {
  kClean,
  // Only "revocation status unknown" and "revocation checked offline": Windows' default
  // Authenticode policy accepts such a signature when no revocation data is cached.
  kRevocationUnknown,
  kRefused,  // anything else, a revoked certificate above all
};
ChainVerdict JudgeChainStatus(DWORD errorStatus);

}  // namespace Crypt
