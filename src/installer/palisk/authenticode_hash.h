// The SHA-256 digests Windows catalogs record, computed with BCrypt: the Authenticode image
// hash for PE files and the plain SHA-256 of the bytes otherwise. Used where the system's own
// catalog hashing (CryptCATAdminCalcHashFromFileHandle2) is missing or does not work.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palisk {

class HeldFile;

// Which bytes of a file its catalog digest covers, in order, and how many zero bytes follow
// them (an unsigned image whose size is not a multiple of 8 is hashed as if padded).
struct DigestPlan {
  struct Range {
    uint64_t from;
    uint64_t to;  // exclusive
  };
  std::vector<Range> ranges;
  uint32_t zeroPadding = 0;
};

// How many bytes of a file's start PlanDigest needs to see: the headers of any image a
// linker writes lie within them.
constexpr uint32_t kDigestHeadBytes = 64 * 1024;

// The plan for a file of `fileSize` bytes that begins with `head` (its first
// min(fileSize, kDigestHeadBytes) bytes). 0, or ERROR_BAD_EXE_FORMAT for an image whose
// certificate table lies anywhere but at its end: a table that must be skipped is honoured
// only 8-byte aligned, after the last section's raw data and ending exactly at the end of the
// file, so no block inside the image can be declared a table and left out of the digest.
uint32_t PlanDigest(const std::vector<uint8_t>& head, uint64_t fileSize, DigestPlan& plan);

// 0 with the digest of the held file, or a Win32 error.
uint32_t CatalogFileDigest(const HeldFile& file, std::vector<uint8_t>& digest);
// SHA-256 ("2.16.840.1.101.3.4.2.1") or SHA-1 ("1.3.14.3.2.26") of `data`; false otherwise.
bool DigestBytes(const char* algorithmOid, const uint8_t* data, size_t size, std::vector<uint8_t>& digest);
std::wstring LowerHex(const uint8_t* data, size_t size);

}  // namespace palisk
