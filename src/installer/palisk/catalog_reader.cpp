#include "installer/palisk/catalog_reader.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>

#include <cstring>

#include <map>
#include <memory>

#include "framework/file_util.h"
#include "framework/scoped_handle.h"
#include "installer/palisk/authenticode_hash.h"

namespace palisk {
namespace {

// A kit's catalog lists each file in a few hundred bytes: 64 MiB is far beyond any kit, and a
// larger file is no catalog of ours.
constexpr uint64_t kMaxCatalogBytes = 64ull << 20;

std::string WholeFile(const std::wstring& path) {
  std::string bytes;
  ov::ReadWholeFile(path, bytes, kMaxCatalogBytes);
  return bytes;
}

struct MessageTraits {
  using Handle = HCRYPTMSG;
  static Handle NullHandle() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { CryptMsgClose(h); }
};
using ScopedMessage = ov::GenericScopedHandle<MessageTraits>;

struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};

ScopedMessage DecodeMessage(const std::string& bytes) {
  ScopedMessage message(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
  if (message.IsValid() && !CryptMsgUpdate(message.Get(), reinterpret_cast<const BYTE*>(bytes.data()),
                                           static_cast<DWORD>(bytes.size()), TRUE)) {
    message.Close();
  }
  return message;
}

std::string MessageParam(HCRYPTMSG message, DWORD type, DWORD index = 0) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size)) return std::string();
  std::string value(size, '\0');
  if (!CryptMsgGetParam(message, type, index, &value[0], &size)) return std::string();
  value.resize(size);
  return value;
}

// A member tag as compared: Windows' catalog tools store the tag with its terminating NUL,
// other tools without it, and the member's pwszReferenceTag never carries one.
std::wstring TagWithoutTerminator(std::wstring tag) {
  while (!tag.empty() && tag.back() == 0) tag.pop_back();
  return tag;
}

// "File" values by member tag, read from the trust list itself: where CryptCATGetAttrInfo is
// a stub (Wine), this is the only way to them, and on Windows it gives the same names.
std::map<std::wstring, std::wstring> FileNamesByTag(const std::wstring& catalog) {
  std::map<std::wstring, std::wstring> names;
  ScopedMessage message = DecodeMessage(WholeFile(catalog));
  if (!message.IsValid()) return names;
  const std::string content = MessageParam(message.Get(), CMSG_CONTENT_PARAM);
  CTL_INFO* raw = nullptr;
  DWORD size = 0;
  if (content.empty() || !CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_CTL, reinterpret_cast<const BYTE*>(content.data()),
                                              static_cast<DWORD>(content.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                                              &raw, &size)) {
    return names;
  }
  std::unique_ptr<CTL_INFO, LocalFreeDeleter> ctl(raw);
  for (DWORD e = 0; e < ctl->cCTLEntry; ++e) {
    const CTL_ENTRY& entry = ctl->rgCTLEntry[e];
    const std::wstring tag = TagWithoutTerminator(std::wstring(
        reinterpret_cast<const wchar_t*>(entry.SubjectIdentifier.pbData), entry.SubjectIdentifier.cbData / sizeof(wchar_t)));
    for (DWORD a = 0; a < entry.cAttribute; ++a) {
      const CRYPT_ATTRIBUTE& attribute = entry.rgAttribute[a];
      if (std::string(attribute.pszObjId) != CAT_NAMEVALUE_OBJID || attribute.cValue == 0) continue;
      CAT_NAMEVALUE* value = nullptr;
      DWORD valueSize = 0;
      if (!CryptDecodeObjectEx(X509_ASN_ENCODING, CAT_NAMEVALUE_STRUCT, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &valueSize)) {
        continue;
      }
      std::unique_ptr<CAT_NAMEVALUE, LocalFreeDeleter> owned(value);
      if (value->pwszTag != nullptr && std::wstring(value->pwszTag) == L"File") {
        std::wstring name(reinterpret_cast<const wchar_t*>(value->Value.pbData), value->Value.cbData / sizeof(wchar_t));
        while (!name.empty() && name.back() == 0) name.pop_back();
        names[tag] = name;
      }
    }
  }
  return names;
}

}  // namespace

uint32_t ReadCatalogEntries(const std::wstring& catalog, std::vector<CatalogEntry>& entries) {
  HANDLE cat = CryptCATOpen(const_cast<wchar_t*>(catalog.c_str()), CRYPTCAT_OPEN_EXISTING, 0, CRYPTCAT_VERSION_2,
                            X509_ASN_ENCODING | PKCS_7_ASN_ENCODING);
  if (cat == INVALID_HANDLE_VALUE || cat == nullptr) return GetLastError();
  std::map<std::wstring, std::wstring> decodedNames;
  bool decoded = false;
  for (CRYPTCATMEMBER* member = CryptCATEnumerateMember(cat, nullptr); member != nullptr;
       member = CryptCATEnumerateMember(cat, member)) {
    if (member->pIndirectData == nullptr) continue;
    CatalogEntry entry;
    entry.digestHex = LowerHex(member->pIndirectData->Digest.pbData, member->pIndirectData->Digest.cbData);
    entry.tag = TagWithoutTerminator(member->pwszReferenceTag != nullptr ? member->pwszReferenceTag : L"");
    if (CRYPTCATATTRIBUTE* file = CryptCATGetAttrInfo(cat, member, const_cast<wchar_t*>(L"File"))) {
      entry.fileName.assign(reinterpret_cast<const wchar_t*>(file->pbValue), file->cbValue / sizeof(wchar_t));
      while (!entry.fileName.empty() && entry.fileName.back() == 0) entry.fileName.pop_back();
    } else {
      if (!decoded) {
        decodedNames = FileNamesByTag(catalog);
        decoded = true;
      }
      auto found = decodedNames.find(entry.tag);
      if (found != decodedNames.end()) entry.fileName = found->second;
    }
    entries.push_back(entry);
  }
  CryptCATClose(cat);
  return 0;
}

// Length of the identifier and length octets of the DER element that `der` holds, or 0 when
// they do not describe exactly the bytes there (an indefinite or oversized length, or a
// length that runs past the end or stops short of it).
size_t DerHeaderLength(const std::string& der) {
  if (der.size() < 2) return 0;
  const uint8_t first = static_cast<uint8_t>(der[1]);
  if (first < 0x80) return 2u + first == der.size() ? 2 : 0;
  const size_t octets = first & 0x7F;
  if (octets == 0 || octets > 4 || der.size() < 2 + octets) return 0;
  uint64_t length = 0;
  for (size_t i = 0; i < octets; ++i) length = (length << 8) | static_cast<uint8_t>(der[2 + i]);
  return 2 + octets + length == der.size() ? 2 + octets : 0;
}

bool CatalogContentMatchesSignature(const std::wstring& catalog) {
  ScopedMessage message = DecodeMessage(WholeFile(catalog));
  if (!message.IsValid()) return false;
  const std::string signerInfo = MessageParam(message.Get(), CMSG_SIGNER_INFO_PARAM);
  const std::string content = MessageParam(message.Get(), CMSG_CONTENT_PARAM);
  if (signerInfo.empty() || content.empty()) return false;
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());

  // The attested digest: the signer's authenticated messageDigest attribute.
  std::string attested;
  for (DWORD i = 0; i < signer->AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = signer->AuthAttrs.rgAttr[i];
    if (std::string(attribute.pszObjId) != szOID_PKCS_9_MESSAGE_DIGEST || attribute.cValue == 0) continue;
    CRYPT_DATA_BLOB* value = nullptr;
    DWORD size = 0;
    if (CryptDecodeObjectEx(X509_ASN_ENCODING, X509_OCTET_STRING, attribute.rgValue[0].pbData,
                            attribute.rgValue[0].cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &size)) {
      attested.assign(reinterpret_cast<const char*>(value->pbData), value->cbData);
      LocalFree(value);
    }
  }
  if (attested.empty()) return false;

  // PKCS #7 digests the content's value octets (the trust list without its own header).
  const size_t header = DerHeaderLength(content);
  std::vector<uint8_t> actual;
  if (header == 0 || !DigestBytes(signer->HashAlgorithm.pszObjId, reinterpret_cast<const uint8_t*>(content.data()) + header,
                                  content.size() - header, actual)) {
    return false;
  }
  if (attested.size() != actual.size() || std::memcmp(attested.data(), actual.data(), actual.size()) != 0) return false;

  // And the signature over the authenticated attributes, with the signer's own certificate.
  const std::string certInfo = MessageParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM);
  if (certInfo.empty()) return false;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, message.Get());
  if (store == nullptr) return false;
  PCCERT_CONTEXT certificate =
      CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
                                 reinterpret_cast<const CERT_INFO*>(certInfo.data()), nullptr);
  bool verified = false;
  if (certificate != nullptr) {
    verified = CryptMsgControl(message.Get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate->pCertInfo) != FALSE;
    CertFreeCertificateContext(certificate);
  }
  CertCloseStore(store, 0);
  return verified;
}

}  // namespace palisk
