// Reading a signed Windows catalog: its members (digest, "File" name, reference tag) and
// whether its signed content is the content it carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palisk {

struct CatalogEntry {
  std::wstring fileName;  // the member's "File" value, "" when it has none
  std::wstring digestHex; // lowercase hex of the indirect-data digest
  std::wstring tag;       // the member's reference tag
};

// 0 with the members, or the error of CryptCATOpen.
uint32_t ReadCatalogEntries(const std::wstring& catalog, std::vector<CatalogEntry>& entries);

// Length of the identifier and length octets of the DER element that `der` holds, or 0 when
// they do not describe exactly the bytes there.
size_t DerHeaderLength(const std::string& der);

// True when the catalog's signer attests (messageDigest) exactly the content it carries and
// the signature over that attestation verifies. WinVerifyTrust under Wine does not check the
// first, so a catalog edited after signing would pass it there; on Windows both agree.
bool CatalogContentMatchesSignature(const std::wstring& catalog);

}  // namespace palisk
