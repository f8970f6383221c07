// The signature checks' decisions on answers that only real Windows gives, replayed through
// the WinTrust table with fakes that answer as Microsoft documents: revocation data that is
// not cached, revoked signers, and files with a secondary (nested) signature.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "installer/palisk/digital_signature.h"
#include "installer/palisk/fileverifier.h"
#include "installer/palisk/trust_api.h"
#include "support/test_support.h"

namespace {

constexpr DWORD kOffline = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
constexpr LONG kRevoked = static_cast<LONG>(0x800B010C);    // CERT_E_REVOKED
constexpr LONG kBadDigest = static_cast<LONG>(0x80096010);  // TRUST_E_BAD_DIGEST

// What WinVerifyTrust answers for one signature, from the cache and online.
struct Answer {
  LONG result;
  DWORD chainStatus;
};
struct FakeSignature {
  Answer cacheOnly;
  Answer online;
};

// One verification's state, as the WTHelper calls hand it out.
struct FakeState {
  CRYPT_PROVIDER_DATA provider = {};
  CRYPT_PROVIDER_SGNR signer = {};
  CERT_CHAIN_CONTEXT chain = {};
  CRYPT_PROVIDER_CERT certificate = {};
  CERT_CONTEXT context = {};
  CERT_INFO info = {};
  BYTE serial[2] = {0x02, 0x01};
};

struct Call {
  DWORD index;
  bool cacheOnly;
};

std::vector<FakeSignature> g_signatures;
std::vector<Call> g_calls;
std::vector<BYTE> g_subject;
FakeState* g_state = nullptr;

LONG WINAPI FakeVerifyTrust(HWND, GUID*, LPVOID data) {
  auto* trust = static_cast<Crypt::TrustData*>(data);
  if (trust->data.dwStateAction == WTD_STATEACTION_CLOSE) {
    delete static_cast<FakeState*>(trust->data.hWVTStateData);
    g_state = nullptr;
    return 0;
  }
  Crypt::SignatureSettings* settings = trust->pSignatureSettings;
  const bool cacheOnly = (trust->data.dwProvFlags & WTD_CACHE_ONLY_URL_RETRIEVAL) != 0;
  g_calls.push_back({settings->dwIndex, cacheOnly});
  settings->cSecondarySigs = static_cast<DWORD>(g_signatures.size() - 1);
  const FakeSignature& signature = g_signatures.at(settings->dwIndex);
  const Answer& answer = cacheOnly ? signature.cacheOnly : signature.online;
  auto* state = new FakeState;
  state->info.Subject = {static_cast<DWORD>(g_subject.size()), g_subject.data()};
  state->info.Issuer = state->info.Subject;
  state->info.SerialNumber = {sizeof state->serial, state->serial};
  state->context.pCertInfo = &state->info;
  state->certificate.pCert = &state->context;
  state->chain.TrustStatus.dwErrorStatus = answer.chainStatus;
  state->signer.csCertChain = 1;
  state->signer.pChainContext = &state->chain;
  trust->data.hWVTStateData = state;
  g_state = state;
  return answer.result;
}
CRYPT_PROVIDER_DATA* WINAPI FakeProviderData(HANDLE state) { return &static_cast<FakeState*>(state)->provider; }
CRYPT_PROVIDER_SGNR* WINAPI FakeProviderSigner(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD) { return &g_state->signer; }
CRYPT_PROVIDER_CERT* WINAPI FakeProviderCertificate(CRYPT_PROVIDER_SGNR*, DWORD) { return &g_state->certificate; }

const Crypt::TrustApi kFakeTrustApi = {FakeVerifyTrust, FakeProviderData, FakeProviderSigner, FakeProviderCertificate};

class SignaturePolicy : public testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    EncodeSubject({{{szOID_COUNTRY_NAME, L"RO"}}, {{szOID_ORGANIZATION_NAME, L"Orvane SRL"}},
                   {{szOID_COMMON_NAME, L"Orvane SRL"}}});
    Crypt::SetTrustApi(&kFakeTrustApi);
    file_ = folder_.Make(L"Installer.exe");
    ASSERT_TRUE(testing_support::WriteTextFile(file_, "MZ"));
  }
  void TearDown() override { Crypt::SetTrustApi(nullptr); }

  static void EncodeSubject(const std::vector<std::vector<testing_support::NameAttribute>>& name) {
    g_subject = testing_support::EncodeCertificateName(name);
    ASSERT_FALSE(g_subject.empty());
  }

  unsigned long Verify(bool onlineRetry) { return signature_.GetDigitalSignature(file_.c_str(), nullptr, onlineRetry); }

  testing_support::ScopedTempFolder folder_;
  std::wstring file_;
  Crypt::DigitalSignatureObjectImplementation signature_;
};

TEST(ChainStatus, OnlyTheOfflineRevocationBitsLeaveTheChainUsable) {
  EXPECT_EQ(Crypt::ChainVerdict::kClean, Crypt::JudgeChainStatus(CERT_TRUST_NO_ERROR));
  EXPECT_EQ(Crypt::ChainVerdict::kRevocationUnknown, Crypt::JudgeChainStatus(kOffline));
  EXPECT_EQ(Crypt::ChainVerdict::kRevocationUnknown, Crypt::JudgeChainStatus(CERT_TRUST_REVOCATION_STATUS_UNKNOWN));
  EXPECT_EQ(Crypt::ChainVerdict::kRefused, Crypt::JudgeChainStatus(CERT_TRUST_IS_REVOKED | kOffline));
  EXPECT_EQ(Crypt::ChainVerdict::kRefused, Crypt::JudgeChainStatus(CERT_TRUST_IS_UNTRUSTED_ROOT | kOffline));
  EXPECT_EQ(Crypt::ChainVerdict::kRefused, Crypt::JudgeChainStatus(CERT_TRUST_IS_NOT_TIME_VALID));
}

TEST_F(SignaturePolicy, UncachedRevocationDataIsFetchedOnlineAndTheSignatureAccepted) {
  g_signatures = {{{0, kOffline}, {0, CERT_TRUST_NO_ERROR}}};
  EXPECT_EQ(0u, Verify(true));
  EXPECT_TRUE(signature_.IsSigned());
  ASSERT_EQ(2u, g_calls.size()) << "a 0 with the offline bits set is retried online";
  EXPECT_TRUE(g_calls[0].cacheOnly);
  EXPECT_FALSE(g_calls[1].cacheOnly);
}

TEST_F(SignaturePolicy, RevocationUnknowableEvenOnlineIsAcceptedWhenTheChainIsOtherwiseClean) {
  g_signatures = {{{0, kOffline}, {0, kOffline}}};
  EXPECT_EQ(0u, Verify(true));
  EXPECT_TRUE(signature_.IsSigned());
  g_calls.clear();
  EXPECT_EQ(0u, Verify(false)) << "the installer check makes no online retry";
  EXPECT_TRUE(signature_.IsSigned());
  EXPECT_EQ(1u, g_calls.size());
}

TEST_F(SignaturePolicy, ARevokedSignerIsAlwaysRefused) {
  g_signatures = {{{kRevoked, CERT_TRUST_IS_REVOKED}, {kRevoked, CERT_TRUST_IS_REVOKED}}};
  EXPECT_NE(0u, Verify(true));
  EXPECT_FALSE(signature_.IsSigned());
  // Wine answers 0 and leaves the verdict to the chain.
  g_signatures = {{{0, CERT_TRUST_IS_REVOKED | kOffline}, {0, CERT_TRUST_IS_REVOKED}}};
  Verify(true);
  EXPECT_FALSE(signature_.IsSigned());
}

TEST_F(SignaturePolicy, TheGoodPrimaryDecidesOverAFailingNestedSignature) {
  g_signatures = {{{0, CERT_TRUST_NO_ERROR}, {0, CERT_TRUST_NO_ERROR}}, {{kBadDigest, 0}, {kBadDigest, 0}}};
  EXPECT_EQ(0u, Verify(true));
  EXPECT_TRUE(signature_.IsSigned());
  ov::List<Crypt::Chain> chains;
  signature_.GetTrustedChains(chains);
  EXPECT_EQ(1u, chains.GetCount());
  EXPECT_EQ(3u, g_calls.size()) << "the primary once, the nested one from the cache and online";
}

TEST_F(SignaturePolicy, ANestedSignatureCountsOnlyWhenThePrimaryFails) {
  g_signatures = {{{kBadDigest, 0}, {kBadDigest, 0}}, {{0, CERT_TRUST_NO_ERROR}, {0, CERT_TRUST_NO_ERROR}}};
  EXPECT_EQ(0u, Verify(false));
  EXPECT_TRUE(signature_.IsSigned());
  g_signatures = {{{kBadDigest, 0}, {kBadDigest, 0}}, {{kRevoked, CERT_TRUST_IS_REVOKED}, {kRevoked, 0}}};
  EXPECT_EQ(static_cast<unsigned long>(kBadDigest), Verify(false)) << "the primary's error is the answer";
  EXPECT_FALSE(signature_.IsSigned());
}

TEST_F(SignaturePolicy, ThePublisherCheckAcceptsAnOfflineRevocationChainOfThePublisher) {
  g_signatures = {{{0, kOffline}, {0, kOffline}}};
  CFileVerifier verifier;
  EXPECT_TRUE(verifier.IsFileTrusted(file_, false));
  EncodeSubject({{{szOID_ORGANIZATION_NAME, L"\"Orvane SRL\""}}, {{szOID_COMMON_NAME, L"Orvane SRL"}}});
  EXPECT_FALSE(verifier.IsFileTrusted(file_, false)) << "O is '\"Orvane SRL\"' with its quotes, not the publisher";
  EncodeSubject({{{szOID_COUNTRY_NAME, L"RO"}}, {{szOID_ORGANIZATION_NAME, L"Orvane SRL"}, {szOID_COMMON_NAME, L"Orvane SRL"}}});
  EXPECT_TRUE(verifier.IsFileTrusted(file_, false)) << "a multi-valued name is read attribute by attribute";
  EncodeSubject({{{szOID_ORGANIZATION_NAME, L"Orvane SRL, CN=Orvane SRL"}}, {{szOID_COMMON_NAME, L"Mallory"}}});
  EXPECT_FALSE(verifier.IsFileTrusted(file_, false)) << "a comma inside a value adds no attribute";
}

}  // namespace
