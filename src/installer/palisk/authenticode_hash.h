// The SHA-256 digests Windows catalogs record, computed with BCrypt: the Authenticode image
// hash for PE files and the plain SHA-256 of the bytes otherwise. Used where the system's own
// catalog hashing (CryptCATAdminCalcHashFromFileHandle2) is missing or does not work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palisk {

// 0 with the digest, or a Win32/NTSTATUS-derived error.
uint32_t CatalogFileDigest(const std::wstring& path, std::vector<uint8_t>& digest);
// SHA-256 ("2.16.840.1.101.3.4.2.1") or SHA-1 ("1.3.14.3.2.26") of `data`; false otherwise.
bool DigestBytes(const char* algorithmOid, const uint8_t* data, size_t size, std::vector<uint8_t>& digest);
std::wstring LowerHex(const uint8_t* data, size_t size);

}  // namespace palisk
