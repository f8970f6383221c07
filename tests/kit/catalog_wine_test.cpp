// Kits from the kit tool, read by Windows' own catalog and certificate functions under Wine:
// the tool's catalogs list every member with its digest and name, and the test PKI's root is
// trusted by the prefix.
#include <windows.h>
#include <mscat.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

using testing_support::BuildFolder;
using testing_support::Utf8ToWide;

std::wstring KitFolder(const char* kit) {
  return BuildFolder() + L"\\testdata\\kits\\" + Utf8ToWide(kit) + L"\\kits\\1.0.0\\win32";
}

nlohmann::json Description() {
  std::ifstream in(testing_support::WideToUtf8(BuildFolder() + L"\\testdata\\kits\\kits.json"));
  return nlohmann::json::parse(in, nullptr, false);
}

std::string Hex(const BYTE* data, DWORD size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (DWORD i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

// Digests of the catalog's members as CryptCATEnumerateMember reports them.
std::set<std::string> MemberDigests(const std::wstring& catalog) {
  std::set<std::string> digests;
  HANDLE cat = CryptCATOpen(const_cast<wchar_t*>(catalog.c_str()), CRYPTCAT_OPEN_EXISTING, 0,
                            CRYPTCAT_VERSION_2, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING);
  if (cat == INVALID_HANDLE_VALUE) return digests;
  for (CRYPTCATMEMBER* member = CryptCATEnumerateMember(cat, nullptr); member != nullptr;
       member = CryptCATEnumerateMember(cat, member)) {
    if (member->pIndirectData != nullptr) {
      digests.insert(Hex(member->pIndirectData->Digest.pbData, member->pIndirectData->Digest.cbData));
    }
  }
  CryptCATClose(cat);
  return digests;
}

struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using TrustList = std::unique_ptr<CTL_INFO, LocalFreeDeleter>;

// The catalog's trust list, decoded straight from the signed message; null when it cannot be.
TrustList DecodeTrustList(const std::wstring& catalog) {
  std::ifstream in(testing_support::WideToUtf8(catalog), std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  HCRYPTMSG message = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
  if (message == nullptr) return nullptr;
  DWORD size = 0;
  std::string content;
  if (CryptMsgUpdate(message, reinterpret_cast<const BYTE*>(file.data()), static_cast<DWORD>(file.size()), TRUE) &&
      CryptMsgGetParam(message, CMSG_CONTENT_PARAM, 0, nullptr, &size)) {
    content.resize(size);
    CryptMsgGetParam(message, CMSG_CONTENT_PARAM, 0, &content[0], &size);
  }
  CryptMsgClose(message);
  CTL_INFO* ctl = nullptr;
  DWORD ctlSize = 0;
  if (content.empty() || !CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_CTL, reinterpret_cast<const BYTE*>(content.data()),
                                              size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &ctl, &ctlSize)) {
    return nullptr;
  }
  return TrustList(ctl);
}

// "File" values read straight from the signed trust list, the way the verifier must do it
// where CryptCATGetAttrInfo is a stub.
std::set<std::wstring> MemberFileNames(const std::wstring& catalog) {
  std::set<std::wstring> names;
  const TrustList ctl = DecodeTrustList(catalog);
  if (!ctl) return names;
  for (DWORD e = 0; e < ctl->cCTLEntry; ++e) {
    const CTL_ENTRY& entry = ctl->rgCTLEntry[e];
    for (DWORD a = 0; a < entry.cAttribute; ++a) {
      if (std::string(entry.rgAttribute[a].pszObjId) != CAT_NAMEVALUE_OBJID) continue;
      CAT_NAMEVALUE* value = nullptr;
      DWORD valueSize = 0;
      const CRYPT_ATTR_BLOB& blob = entry.rgAttribute[a].rgValue[0];
      if (CryptDecodeObjectEx(X509_ASN_ENCODING, CAT_NAMEVALUE_STRUCT, blob.pbData, blob.cbData,
                              CRYPT_DECODE_ALLOC_FLAG, nullptr, &value, &valueSize)) {
        if (std::wstring(value->pwszTag) == L"File") {
          names.insert(std::wstring(reinterpret_cast<const wchar_t*>(value->Value.pbData)));
        }
        LocalFree(value);
      }
    }
  }
  return names;
}

// The chain status of the certificate that signed `file`.
DWORD SignerChainStatus(const std::wstring& file) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, file.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message, nullptr) ||
      message == nullptr || store == nullptr) {
    return 0xFFFFFFFF;
  }
  DWORD size = 0;
  CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size);
  std::string buffer(size, '\0');
  CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, &buffer[0], &size);
  auto* info = reinterpret_cast<CERT_INFO*>(&buffer[0]);
  PCCERT_CONTEXT signer = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SUBJECT_CERT, info, nullptr);
  DWORD status = 0xFFFFFFFF;
  if (signer != nullptr) {
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (CertGetCertificateChain(nullptr, signer, nullptr, store, &para, 0, nullptr, &chain)) {
      status = chain->TrustStatus.dwErrorStatus;
      CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(signer);
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return status;
}

TEST(KitCatalog, WindowsListsEveryMemberWithItsDigest) {
  const nlohmann::json kits = Description();
  ASSERT_FALSE(kits.is_discarded()) << "run make_test_kits.py first";
  std::set<std::string> expected;
  for (auto& member : kits["good"]["members"].items()) expected.insert(member.value().get<std::string>());
  EXPECT_EQ(expected, MemberDigests(KitFolder("good") + L"\\kit.cat"));
}

TEST(KitCatalog, FileNamesAreRelativeToTheWorkingFolder) {
  const std::set<std::wstring> expected = {L"x86\\Installer.exe", L"x86\\readme.txt", L"x86\\sub\\Data.Bin"};
  EXPECT_EQ(expected, MemberFileNames(KitFolder("good") + L"\\kit.cat"));
}

// The UTF-16 code units of each member's tag as the trust list stores it.
std::vector<std::wstring> StoredTags(const std::wstring& catalog) {
  std::vector<std::wstring> tags;
  const TrustList ctl = DecodeTrustList(catalog);
  for (DWORD e = 0; ctl && e < ctl->cCTLEntry; ++e) {
    const CRYPT_DATA_BLOB& id = ctl->rgCTLEntry[e].SubjectIdentifier;
    tags.emplace_back(reinterpret_cast<const wchar_t*>(id.pbData), id.cbData / sizeof(wchar_t));
  }
  return tags;
}

// As Windows' catalog tools write them: the upper-case hex digest and its terminating NUL.
TEST(KitCatalog, MemberTagsCarryTheirTerminatorUnlessAskedNotTo) {
  const std::vector<std::wstring> windowsForm = StoredTags(KitFolder("good") + L"\\kit.cat");
  ASSERT_EQ(3u, windowsForm.size());
  for (const std::wstring& tag : windowsForm) {
    ASSERT_EQ(65u, tag.size());
    EXPECT_EQ(L'\0', tag.back());
    EXPECT_EQ(64u, tag.find_first_not_of(L"0123456789ABCDEF")) << "upper-case hex before the terminator";
  }
  const std::vector<std::wstring> bare = StoredTags(KitFolder("tags-without-nul") + L"\\kit.cat");
  ASSERT_EQ(3u, bare.size());
  for (const std::wstring& tag : bare) {
    ASSERT_EQ(64u, tag.size());
    EXPECT_NE(L'\0', tag.back());
  }
}

TEST(KitCatalog, Sha1MemberHasATwentyByteDigest) {
  bool sawSha1 = false;
  for (const std::string& digest : MemberDigests(KitFolder("sha1-member") + L"\\kit.cat")) {
    if (digest.size() == 40) sawSha1 = true;
  }
  EXPECT_TRUE(sawSha1);
}

TEST(TestPki, PublisherChainsToTheInstalledRoot) {
  EXPECT_EQ(0u, SignerChainStatus(KitFolder("good") + L"\\Installer.exe"));
  EXPECT_EQ(0u, SignerChainStatus(KitFolder("good") + L"\\kit.cat"));
}

TEST(TestPki, NegativeSignersHaveChainErrors) {
  EXPECT_NE(0u, SignerChainStatus(KitFolder("untrusted") + L"\\kit.cat") & CERT_TRUST_IS_UNTRUSTED_ROOT)
      << "issued by a root the prefix does not trust";
  EXPECT_NE(0u, SignerChainStatus(KitFolder("expired") + L"\\kit.cat") & CERT_TRUST_IS_NOT_TIME_VALID);
  EXPECT_EQ(0u, SignerChainStatus(KitFolder("o-different") + L"\\kit.cat"))
      << "a clean chain: only the subject check can refuse it";
}

TEST(TestPki, SignedInstallerPassesWinVerifyTrust) {
  std::wstring path = KitFolder("good") + L"\\Installer.exe";
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  EXPECT_EQ(0, WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

}  // namespace
