#include "installer/palisk/digital_signature.h"

#include <wintrust.h>
#include <softpub.h>

#include <cstdio>
#include <vector>

#include "installer/palisk/trust_api.h"
#include "logging/log_binding.h"

namespace Crypt {
namespace {

using logging::CallTrace;
using logging::kLevelError;
using logging::kLevelInfo;
using logging::kLevelTrace;
using logging::LogMessage;

constexpr wchar_t kEnumScope[] = L"Crypt::DigitalSignatureObjectImplementation::EnumCertificates";
constexpr wchar_t kCertificateScope[] = L"Crypt::DigitalSignatureObjectImplementation::GetCertificate";

std::wstring NameText(const CERT_NAME_BLOB& name) {
  const DWORD size = CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&name), CERT_X500_NAME_STR, nullptr, 0);
  if (size <= 1) {
    LogMessage(kLevelError, kCertificateScope, L"Failed to convert blob to string.");
    return std::wstring();
  }
  std::vector<wchar_t> text(size);
  CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&name), CERT_X500_NAME_STR, text.data(), size);
  return text.data();
}

std::wstring SerialText(const CRYPT_INTEGER_BLOB& serial) {
  std::wstring text;
  wchar_t pair[4];
  for (DWORD i = serial.cbData; i-- > 0;) {
    _snwprintf(pair, 4, L"%02x", serial.pbData[i]);
    text += pair;
  }
  return text;
}

Certificate RecordOf(PCCERT_CONTEXT certificate) {
  Certificate record;
  const std::wstring issuer = NameText(certificate->pCertInfo->Issuer);
  const std::wstring subject = NameText(certificate->pCertInfo->Subject);
  const std::wstring serial = SerialText(certificate->pCertInfo->SerialNumber);
  LogMessage(kLevelTrace, kCertificateScope, L"Issuer: %s", issuer.c_str());
  LogMessage(kLevelTrace, kCertificateScope, L"Subject: %s", subject.c_str());
  LogMessage(kLevelTrace, kCertificateScope, L"Serial: %s", serial.c_str());
  // The names are read from their encoding, not from the text above: text forms quote and
  // split differently from system to system, and the subject decides the publisher.
  ov::DistinguishedNameBuilder::Decode(certificate->pCertInfo->Issuer, record.issuer);
  ov::DistinguishedNameBuilder::Decode(certificate->pCertInfo->Subject, record.subject);
  record.serial = serial.c_str();
  return record;
}

void RecordTimestamp(const CRYPT_PROVIDER_SGNR* signer, Certificate& leaf) {
  if (signer->csCounterSigners == 0 || signer->pasCounterSigners == nullptr) {
    LogMessage(kLevelTrace, kCertificateScope, L"No counter signer found.");
    return;
  }
  for (DWORD i = 0; i < signer->csCounterSigners; ++i) {
    const CRYPT_PROVIDER_SGNR& counter = signer->pasCounterSigners[i];
    if (!(counter.dwSignerType & SGNR_TYPE_TIMESTAMP)) continue;
    SYSTEMTIME time;
    if (FileTimeToSystemTime(&counter.sftVerifyAsOf, &time)) {
      leaf.hasSigningTime = true;
      leaf.signingTime = time;
      LogMessage(kLevelTrace, kCertificateScope, L"Systemtime : %02d/%02d/%04d %02d:%02d", time.wMonth, time.wDay,
                 time.wYear, time.wHour, time.wMinute);
    }
    return;
  }
  LogMessage(kLevelTrace, kCertificateScope, L"No signer of type SGNR_TYPE_TIMESTAMP found.");
}

}  // namespace

bool DigitalSignatureObjectImplementation::CheckFile(const wchar_t* path) {
  const bool signed_ = GetDigitalSignature(path, nullptr, false) == 0 && IsSigned();
  m_trustedChains.RemoveAll();
  return signed_;
}

unsigned long DigitalSignatureObjectImplementation::OpenFileHandle() {
  CloseFileHandle();
  // Shared for reading only: nobody may change the file while its signature is read.
  m_file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  if (m_file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    LogMessage(kLevelError, L"Crypt::DigitalSignatureObjectImplementation::OpenFileHandle",
               L"Failed to open file with error %d.", error);
    return error;
  }
  m_ownsFile = true;
  return 0;
}

void DigitalSignatureObjectImplementation::CloseFileHandle() {
  if (m_ownsFile && m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  m_file = INVALID_HANDLE_VALUE;
  m_ownsFile = false;
}

unsigned long DigitalSignatureObjectImplementation::GetDigitalSignature(const wchar_t* path,
                                                                        ICertificateVisitor* visitor,
                                                                        bool onlineRetry) {
  CallTrace trace(L"Crypt::DigitalSignatureObjectImplementation::GetDigitalSignature");
  m_path = path != nullptr ? path : L"";
  m_trustedChains.RemoveAll();
  m_lastResult = OpenFileHandle();
  if (m_lastResult != 0) return m_lastResult;
  m_lastResult = EnumCertificates(visitor, onlineRetry);
  CloseFileHandle();
  return m_lastResult;
}

unsigned long DigitalSignatureObjectImplementation::GetDigitalSignatureOf(const wchar_t* path, HANDLE file,
                                                                          ICertificateVisitor* visitor,
                                                                          bool onlineRetry) {
  CallTrace trace(L"Crypt::DigitalSignatureObjectImplementation::GetDigitalSignature");
  CloseFileHandle();
  m_path = path != nullptr ? path : L"";
  m_trustedChains.RemoveAll();
  m_file = file;  // the caller's: never closed here
  m_lastResult = EnumCertificates(visitor, onlineRetry);
  m_file = INVALID_HANDLE_VALUE;
  return m_lastResult;
}

unsigned long DigitalSignatureObjectImplementation::EnumCertificates(ICertificateVisitor* visitor, bool onlineRetry) {
  const TrustApi& api = ActiveTrustApi();
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // The primary signature decides; a secondary (nested) one counts only when the primary is
  // not trusted, so a good primary is never refused for a nested signature that fails.
  unsigned long primaryResult = 0;
  bool decided = false;
  DWORD secondary = 0;
  for (DWORD index = 0; index <= secondary; ++index) {
    // WinVerifyTrust reads from the handle's position on some systems: from the start.
    LARGE_INTEGER start = {};
    SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN);
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = m_path.c_str();
    file.hFile = m_file;
    SignatureSettings settings = {sizeof settings, index, kVerifySpecific | kGetSecondarySigCount, 0, 0, nullptr};
    TrustData trust = {};
    trust.data.cbStruct = sizeof trust;
    trust.data.dwUIChoice = WTD_UI_NONE;
    trust.data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    trust.data.dwUnionChoice = WTD_CHOICE_FILE;
    trust.data.pFile = &file;
    trust.data.dwStateAction = WTD_STATEACTION_VERIFY;
    trust.data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    trust.pSignatureSettings = &settings;

    auto close = [&] {
      trust.data.dwStateAction = WTD_STATEACTION_CLOSE;
      api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust.data);
      trust.data.hWVTStateData = nullptr;
    };
    CRYPT_PROVIDER_DATA* provider = nullptr;
    CRYPT_PROVIDER_SGNR* signer = nullptr;
    auto verify = [&] {
      const LONG answer = api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust.data);
      provider = api.providerData(trust.data.hWVTStateData);
      signer = provider != nullptr ? api.providerSigner(provider, 0, FALSE, 0) : nullptr;
      return answer;
    };
    // WinVerifyTrust's 0 is not enough: Wine answers 0 for untrusted roots and expired
    // signers, so the signer's own chain must be clean as well. Windows answers 0 too when
    // its default policy accepts revocation data that could not be had offline; the chain
    // then says so, and the online retry is worth making for that as well.
    auto verdict = [&] {
      return signer != nullptr && signer->pChainContext != nullptr
                 ? JudgeChainStatus(signer->pChainContext->TrustStatus.dwErrorStatus)
                 : ChainVerdict::kRefused;
    };
    LONG verified = verify();
    if (onlineRetry && (verified != 0 || verdict() == ChainVerdict::kRevocationUnknown)) {
      if (verified != 0) {
        LogMessage(kLevelError, kEnumScope, L"WinVerifyTrust failed with error 0x%.8X\n", verified);
      } else {
        LogMessage(kLevelInfo, kEnumScope, L"Revocation status not in the cache.");
      }
      close();
      LogMessage(kLevelInfo, kEnumScope, L"WinVerifyTrust try again online check");
      trust.data.dwProvFlags &= ~WTD_CACHE_ONLY_URL_RETRIEVAL;
      trust.data.dwStateAction = WTD_STATEACTION_VERIFY;
      verified = verify();
      if (verified != 0) LogMessage(kLevelError, kEnumScope, L"WinVerifyTrust failed online with error 0x%.8X\n", verified);
    }
    if (index == 0) {
      secondary = settings.cSecondarySigs;
      primaryResult = static_cast<unsigned long>(verified);
    }
    if (m_observer != nullptr) m_observer->OnVerifyResult(verified);

    if (provider == nullptr) {
      LogMessage(kLevelError, kEnumScope, L"Failed to get crypt provider data. Index %d from %d certificates.", index,
                 secondary + 1);
    } else if (signer == nullptr) {
      LogMessage(kLevelError, kEnumScope, L"Failed to get crypt provider signer. Index %d from %d certificates.", index,
                 secondary + 1);
    } else {
      Chain chain;
      for (DWORD c = 0; c < signer->csCertChain; ++c) {
        CRYPT_PROVIDER_CERT* certificate = api.providerCertificate(signer, c);
        if (certificate == nullptr || certificate->pCert == nullptr) {
          LogMessage(kLevelError, kCertificateScope, L"Failed to get provider certificate.");
          continue;
        }
        if (c == 0 && m_observer != nullptr) m_observer->OnSignerCertificate(certificate->pCert);
        Certificate record = RecordOf(certificate->pCert);
        if (c == 0) RecordTimestamp(signer, record);
        chain.certificates.AddTail(record);
      }
      const ChainVerdict judged = verdict();
      chain.trusted = verified == 0 && judged != ChainVerdict::kRefused;
      if (chain.trusted && judged == ChainVerdict::kRevocationUnknown) {
        LogMessage(kLevelInfo, kEnumScope, L"Revocation status unknown (no revocation data reachable); chain otherwise valid.");
      }
      if (chain.trusted && !decided) {
        m_trustedChains.AddTail(chain);
        decided = true;
      }
      if (visitor != nullptr) visitor->OnChain(chain);
    }
    close();
  }
  return decided ? 0 : primaryResult;
}

}  // namespace Crypt
