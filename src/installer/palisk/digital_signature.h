// Authenticode signatures of a file, read through WinTrust: every signature is verified, its
// signer's certificate chain is turned into records (issuer and subject attributes, serial,
// timestamp) and the chains that verified are kept as trusted.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "framework/guarded_string.h"
#include "framework/list.h"
#include "installer/palisk/distinguished_name.h"

namespace ov {
namespace snsdk {
namespace AntivirusScan {
struct ObjectInfo {
  struct Chain {
    struct SignatureInfo {
      struct Certificate {
        NameAttributes issuer;
        StringT serial;  // lowercase hex, most significant byte first
        NameAttributes subject;
        bool hasSigningTime = false;
        SYSTEMTIME signingTime = {};
      };
    };
    List<SignatureInfo::Certificate> certificates;  // the signer's leaf first
    bool trusted = false;
  };
};
}  // namespace AntivirusScan
}  // namespace snsdk
}  // namespace ov

namespace Crypt {

using Certificate = ov::snsdk::AntivirusScan::ObjectInfo::Chain::SignatureInfo::Certificate;
using Chain = ov::snsdk::AntivirusScan::ObjectInfo::Chain;

// Receives every signature's chain, trusted or not.
class ICertificateVisitor {
 public:
  virtual void OnChain(const Chain& chain) = 0;
};

class IDigitalSignatureObserver {
 public:
  virtual void OnVerifyResult(LONG result) = 0;
  virtual void OnSignerCertificate(PCCERT_CONTEXT certificate) = 0;
};

class IDigitalSignature {
 public:
  // Verifies `path` and forgets the certificates: true when some signature is trusted.
  virtual bool CheckFile(const wchar_t* path) = 0;
  virtual unsigned long GetDigitalSignature(const wchar_t* path, ICertificateVisitor* visitor, bool onlineRetry) = 0;
  // The last GetDigitalSignature returned 0 and found at least one trusted chain.
  virtual bool IsSigned() = 0;
  virtual void GetTrustedChains(ov::List<Chain>& chains) = 0;
  virtual void SetObserver(IDigitalSignatureObserver* observer) = 0;
};

class DigitalSignatureObjectImplementation final : public IDigitalSignature {
 public:
  DigitalSignatureObjectImplementation() = default;
  ~DigitalSignatureObjectImplementation() { CloseFileHandle(); }
  DigitalSignatureObjectImplementation(const DigitalSignatureObjectImplementation&) = delete;
  DigitalSignatureObjectImplementation& operator=(const DigitalSignatureObjectImplementation&) = delete;

  bool CheckFile(const wchar_t* path) override;
  unsigned long GetDigitalSignature(const wchar_t* path, ICertificateVisitor* visitor, bool onlineRetry) override;
  // The same for a file the caller holds open: WinVerifyTrust reads it through `file` (which
  // stays the caller's), so the bytes judged are those the caller holds. The handle's file
  // pointer moves: no other thread may read through it meanwhile.
  unsigned long GetDigitalSignatureOf(const wchar_t* path, HANDLE file, ICertificateVisitor* visitor, bool onlineRetry);
  bool IsSigned() override { return m_lastResult == 0 && m_trustedChains.GetCount() > 0; }
  void GetTrustedChains(ov::List<Chain>& chains) override { chains = m_trustedChains; }
  void SetObserver(IDigitalSignatureObserver* observer) override { m_observer = observer; }

 private:
  unsigned long OpenFileHandle();
  void CloseFileHandle();
  unsigned long EnumCertificates(ICertificateVisitor* visitor, bool onlineRetry);

  std::wstring m_path;
  HANDLE m_file = INVALID_HANDLE_VALUE;
  bool m_ownsFile = false;
  ov::List<Chain> m_trustedChains;
  IDigitalSignatureObserver* m_observer = nullptr;
  unsigned long m_lastResult = ERROR_NOT_READY;
};

}  // namespace Crypt
