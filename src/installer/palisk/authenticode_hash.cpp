#include "installer/palisk/authenticode_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "installer/palisk/held_file.h"

namespace palisk {
namespace {

// One BCrypt hash in progress.
class Hasher {
 public:
  explicit Hasher(const wchar_t* algorithm) {
    if (BCryptOpenAlgorithmProvider(&m_algorithm, algorithm, nullptr, 0) < 0) m_algorithm = nullptr;
    if (m_algorithm != nullptr && BCryptCreateHash(m_algorithm, &m_hash, nullptr, 0, nullptr, 0, 0) < 0) m_hash = nullptr;
  }
  ~Hasher() {
    if (m_hash != nullptr) BCryptDestroyHash(m_hash);
    if (m_algorithm != nullptr) BCryptCloseAlgorithmProvider(m_algorithm, 0);
  }
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  bool Ok() const { return m_hash != nullptr; }
  bool Add(const uint8_t* data, size_t size) {
    return size == 0 || BCryptHashData(m_hash, const_cast<uint8_t*>(data), static_cast<ULONG>(size), 0) >= 0;
  }
  bool Finish(std::vector<uint8_t>& digest) {
    DWORD length = 0, got = 0;
    if (BCryptGetProperty(m_algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length, &got, 0) < 0) {
      return false;
    }
    digest.assign(length, 0);
    return BCryptFinishHash(m_hash, digest.data(), length, 0) >= 0;
  }

 private:
  BCRYPT_ALG_HANDLE m_algorithm = nullptr;
  BCRYPT_HASH_HANDLE m_hash = nullptr;
};

uint32_t ReadU32(const std::vector<uint8_t>& data, size_t at) {
  uint32_t value;
  std::memcpy(&value, &data[at], 4);
  return value;
}

uint16_t ReadU16(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
}

// Where the fields that the image hash treats specially lie.
struct ImageLayout {
  size_t checksum = 0;          // the optional header's checksum (4 bytes, skipped)
  size_t certificateEntry = 0;  // the certificate-table directory entry (8 bytes, skipped)
  uint32_t tableOffset = 0;
  uint32_t tableSize = 0;
  bool sectionsKnown = false;   // the section table lies within the head
  uint64_t contentEnd = 0;      // end of the headers and of the last section's raw data
};

// False when the file is not a PE image (it is then hashed as plain bytes).
bool ReadImageLayout(const std::vector<uint8_t>& head, ImageLayout& layout) {
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint32_t pe = ReadU32(head, 0x3C);
  if (pe > head.size() || head.size() - pe < 24 + 2 || std::memcmp(&head[pe], "PE\0\0", 4) != 0) return false;
  const size_t optional = pe + 24;
  const uint16_t magic = ReadU16(head, optional);
  layout.checksum = optional + 64;
  layout.certificateEntry = optional + (magic == 0x10B ? 96 : 112) + 4 * 8;
  if (layout.certificateEntry + 8 > head.size()) return false;
  layout.tableOffset = ReadU32(head, layout.certificateEntry);
  layout.tableSize = ReadU32(head, layout.certificateEntry + 4);

  const uint16_t sections = ReadU16(head, pe + 6);
  const size_t sectionTable = optional + ReadU16(head, pe + 20);
  layout.contentEnd = layout.certificateEntry + 8;
  if (optional + 64 <= head.size()) layout.contentEnd = std::max<uint64_t>(layout.contentEnd, ReadU32(head, optional + 60));
  layout.sectionsKnown = sectionTable + size_t{sections} * 40 <= head.size();
  for (size_t i = 0; layout.sectionsKnown && i < sections; ++i) {
    const size_t entry = sectionTable + i * 40;
    const uint32_t rawSize = ReadU32(head, entry + 16);
    const uint32_t rawOffset = ReadU32(head, entry + 20);
    if (rawSize != 0) layout.contentEnd = std::max<uint64_t>(layout.contentEnd, uint64_t{rawOffset} + rawSize);
  }
  return true;
}

}  // namespace

uint32_t PlanDigest(const std::vector<uint8_t>& head, uint64_t fileSize, DigestPlan& plan) {
  plan = DigestPlan();
  ImageLayout image;
  if (!ReadImageLayout(head, image)) {
    plan.ranges.push_back({0, fileSize});
    return 0;
  }
  // Everything but the checksum, the certificate-table entry and the table itself.
  plan.ranges.push_back({0, image.checksum});
  plan.ranges.push_back({image.checksum + 4, image.certificateEntry});
  if (image.tableOffset == 0 || image.tableSize == 0) {
    plan.ranges.push_back({image.certificateEntry + 8, fileSize});
    if (fileSize % 8 != 0) plan.zeroPadding = static_cast<uint32_t>(8 - fileSize % 8);
    return 0;
  }
  const uint64_t tableEnd = uint64_t{image.tableOffset} + image.tableSize;
  if (!image.sectionsKnown || image.tableOffset % 8 != 0 || image.tableOffset < image.contentEnd ||
      tableEnd != fileSize) {
    return ERROR_BAD_EXE_FORMAT;
  }
  plan.ranges.push_back({image.certificateEntry + 8, image.tableOffset});
  return 0;
}


std::wstring LowerHex(const uint8_t* data, size_t size) {
  static const wchar_t digits[] = L"0123456789abcdef";
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 15];
  }
  return text;
}

bool DigestBytes(const char* algorithmOid, const uint8_t* data, size_t size, std::vector<uint8_t>& digest) {
  const wchar_t* algorithm = nullptr;
  if (std::strcmp(algorithmOid, "2.16.840.1.101.3.4.2.1") == 0) algorithm = BCRYPT_SHA256_ALGORITHM;
  if (std::strcmp(algorithmOid, "1.3.14.3.2.26") == 0) algorithm = BCRYPT_SHA1_ALGORITHM;
  if (algorithm == nullptr) return false;
  Hasher hasher(algorithm);
  return hasher.Ok() && hasher.Add(data, size) && hasher.Finish(digest);
}

class CatalogDigestStream::Hasher : public palisk::Hasher {
 public:
  Hasher() : palisk::Hasher(BCRYPT_SHA256_ALGORITHM) {}
};

CatalogDigestStream::CatalogDigestStream() { Reset(); }
CatalogDigestStream::~CatalogDigestStream() = default;

void CatalogDigestStream::Reset() {
  m_hasher.reset(new Hasher());
  m_head.clear();
  m_skips.clear();
  m_decided = false;
  m_tableSkipped = false;
  m_given = 0;
  m_error = m_hasher->Ok() ? 0 : ERROR_NOT_SUPPORTED;
}

bool CatalogDigestStream::Add(const uint8_t* data, size_t size) {
  if (m_error != 0) return false;
  if (!m_decided) {
    const size_t wanted = std::min<size_t>(size, kDigestHeadBytes - m_head.size());
    m_head.insert(m_head.end(), data, data + wanted);
    m_given += wanted;
    data += wanted;
    size -= wanted;
    if (m_head.size() < kDigestHeadBytes) return true;
    Decide();
  }
  Hash(m_given, data, size);
  m_given += size;
  return m_error == 0;
}

void CatalogDigestStream::Decide() {
  m_decided = true;
  ImageLayout image;
  if (ReadImageLayout(m_head, image)) {
    m_skips.push_back({image.checksum, image.checksum + 4});
    m_skips.push_back({image.certificateEntry, image.certificateEntry + 8});
    // The table itself must end the file; Finish refuses the image where it does not.
    m_tableSkipped = image.tableOffset != 0 && image.tableSize != 0;
    if (m_tableSkipped) m_skips.push_back({image.tableOffset, UINT64_MAX});
  }
  Hash(0, m_head.data(), m_head.size());
}

void CatalogDigestStream::Hash(uint64_t offset, const uint8_t* data, size_t size) {
  const uint64_t end = offset + size;
  for (uint64_t at = offset; at < end && m_error == 0;) {
    uint64_t next = end;
    bool skipped = false;
    for (const Skip& skip : m_skips) {
      if (skip.from <= at && at < skip.to) {
        next = std::min(end, skip.to);
        skipped = true;
        break;
      }
      if (skip.from > at) next = std::min(next, skip.from);
    }
    if (!skipped && !m_hasher->Add(data + (at - offset), static_cast<size_t>(next - at))) m_error = ERROR_FUNCTION_FAILED;
    at = next;
  }
}

uint32_t CatalogDigestStream::Finish(std::vector<uint8_t>& digest) {
  digest.clear();
  if (m_error != 0) return m_error;
  if (!m_decided) Decide();
  if (m_error != 0) return m_error;
  DigestPlan plan;
  if (const uint32_t refused = PlanDigest(m_head, m_given, plan)) return refused;
  // What was hashed is the plan's ranges exactly: the complement of the skips up to the size.
  std::vector<DigestPlan::Range> hashed;
  uint64_t from = 0;
  for (const Skip& skip : m_skips) {
    hashed.push_back({from, std::min(skip.from, m_given)});
    from = std::min(skip.to, m_given);
  }
  if (!m_tableSkipped) hashed.push_back({from, m_given});
  bool same = hashed.size() == plan.ranges.size();
  for (size_t i = 0; same && i < hashed.size(); ++i) {
    same = hashed[i].from == plan.ranges[i].from && hashed[i].to == plan.ranges[i].to;
  }
  if (!same) return ERROR_BAD_EXE_FORMAT;
  static const uint8_t zeros[8] = {};
  if (!m_hasher->Add(zeros, plan.zeroPadding)) return ERROR_FUNCTION_FAILED;
  return m_hasher->Finish(digest) ? 0 : ERROR_FUNCTION_FAILED;
}

uint32_t CatalogFileDigest(const HeldFile& file, std::vector<uint8_t>& digest) {
  uint64_t size = 0;
  if (!file.Size(size)) return GetLastError();
  // In pieces: a kit file of any size is hashed without holding it in the (32-bit) address space.
  std::vector<uint8_t> buffer(kDigestHeadBytes);
  CatalogDigestStream stream;
  for (uint64_t at = 0; at < size;) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(size - at, buffer.size()));
    uint32_t read = 0;
    if (!file.ReadAt(at, buffer.data(), chunk, read)) return GetLastError();
    if (read != chunk) return ERROR_READ_FAULT;
    if (!stream.Add(buffer.data(), read)) break;  // Finish says why
    at += read;
  }
  return stream.Finish(digest);
}

}  // namespace palisk
