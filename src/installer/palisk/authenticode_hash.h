// The SHA-256 digests Windows catalogs record, computed with BCrypt: the Authenticode image
// hash for PE files and the plain SHA-256 of the bytes otherwise. Used where the system's own
// catalog hashing (CryptCATAdminCalcHashFromFileHandle2) is missing or does not work.
#pragma once

#include <cstdint>
#include <memory>
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

// The catalog digest of a file whose bytes arrive in order, in pieces of any size (so a file
// can be hashed while it is written). The image layout is read from the first kDigestHeadBytes
// (or from all bytes of a smaller file); until they are in, they are kept. From then on each
// piece is hashed at once, less the fields the image hash leaves out. Finish checks that what
// was left out is exactly what PlanDigest says for the file's final size, so the digest is
// always the one CatalogFileDigest computes from the whole file.
class CatalogDigestStream {
 public:
  CatalogDigestStream();
  ~CatalogDigestStream();
  CatalogDigestStream(const CatalogDigestStream&) = delete;
  CatalogDigestStream& operator=(const CatalogDigestStream&) = delete;

  // Forgets every byte given so far.
  void Reset();
  // The next `size` bytes of the file. False once hashing has failed.
  bool Add(const uint8_t* data, size_t size);
  // Every byte was given: 0 with the digest, or a Win32 error (ERROR_BAD_EXE_FORMAT as
  // PlanDigest refuses an image, ERROR_NOT_SUPPORTED without BCrypt's SHA-256).
  uint32_t Finish(std::vector<uint8_t>& digest);

 private:
  class Hasher;
  struct Skip {
    uint64_t from;
    uint64_t to;
  };
  void Decide();
  void Hash(uint64_t offset, const uint8_t* data, size_t size);

  std::unique_ptr<Hasher> m_hasher;
  std::vector<uint8_t> m_head;
  std::vector<Skip> m_skips;  // the parts of an image its digest leaves out
  bool m_decided = false;
  bool m_tableSkipped = false;
  uint64_t m_given = 0;
  uint32_t m_error = 0;
};

// 0 with the digest of the held file, or a Win32 error.
uint32_t CatalogFileDigest(const HeldFile& file, std::vector<uint8_t>& digest);
// SHA-256 ("2.16.840.1.101.3.4.2.1") or SHA-1 ("1.3.14.3.2.26") of `data`; false otherwise.
bool DigestBytes(const char* algorithmOid, const uint8_t* data, size_t size, std::vector<uint8_t>& digest);
std::wstring LowerHex(const uint8_t* data, size_t size);

}  // namespace palisk
