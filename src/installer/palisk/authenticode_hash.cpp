#include "installer/palisk/authenticode_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "framework/scoped_handle.h"

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

// Offsets of the PE fields the image hash skips, from the start of the file (`head`) and its
// size; false when the file is not a PE image.
bool PeLayout(const std::vector<uint8_t>& head, uint64_t size, size_t& checksum, size_t& certificateEntry,
              uint32_t& tableOffset, uint32_t& tableSize) {
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint32_t pe = ReadU32(head, 0x3C);
  if (pe > head.size() || head.size() - pe < 24 + 2 || std::memcmp(&head[pe], "PE\0\0", 4) != 0) return false;
  const size_t optional = pe + 24;
  const uint16_t magic = static_cast<uint16_t>(head[optional] | (head[optional + 1] << 8));
  checksum = optional + 64;
  certificateEntry = optional + (magic == 0x10B ? 96 : 112) + 4 * 8;
  if (certificateEntry + 8 > head.size()) return false;
  tableOffset = ReadU32(head, certificateEntry);
  tableSize = ReadU32(head, certificateEntry + 4);
  return tableOffset == 0 || (tableOffset >= certificateEntry + 8 && tableOffset <= size &&
                              tableSize <= size - tableOffset);
}

// Feeds the bytes [from, to) of `file` to the hasher in pieces: a kit file of any size is
// hashed without holding it in the (32-bit) address space.
bool HashRange(HANDLE file, uint64_t from, uint64_t to, Hasher& hasher, std::vector<uint8_t>& buffer) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(from);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
  for (uint64_t left = to - from; left > 0;) {
    const DWORD chunk = static_cast<DWORD>(left < buffer.size() ? left : buffer.size());
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), chunk, &read, nullptr) || read != chunk) return false;
    if (!hasher.Add(buffer.data(), read)) return false;
    left -= read;
  }
  return true;
}

}  // namespace

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

uint32_t CatalogFileDigest(const std::wstring& path, std::vector<uint8_t>& digest) {
  ov::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) return GetLastError();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) return GetLastError();
  const uint64_t length = static_cast<uint64_t>(size.QuadPart);
  // The headers lie at the start: 64 KiB holds them for any image a linker writes.
  std::vector<uint8_t> buffer(64 * 1024);
  std::vector<uint8_t> head(static_cast<size_t>(length < buffer.size() ? length : buffer.size()));
  DWORD read = 0;
  if (!head.empty() && (!ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr) ||
                        read != head.size())) {
    return GetLastError();
  }
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  if (!hasher.Ok()) return ERROR_NOT_SUPPORTED;
  size_t checksum = 0, certificateEntry = 0;
  uint32_t tableOffset = 0, tableSize = 0;
  bool ok;
  if (!PeLayout(head, length, checksum, certificateEntry, tableOffset, tableSize)) {
    ok = HashRange(file.Get(), 0, length, hasher, buffer);
  } else {
    // Everything but the checksum, the certificate-table entry and the table itself.
    ok = HashRange(file.Get(), 0, checksum, hasher, buffer) &&
         HashRange(file.Get(), checksum + 4, certificateEntry, hasher, buffer);
    if (tableOffset != 0 && tableSize != 0) {
      ok = ok && HashRange(file.Get(), certificateEntry + 8, tableOffset, hasher, buffer) &&
           HashRange(file.Get(), uint64_t{tableOffset} + tableSize, length, hasher, buffer);
    } else {
      ok = ok && HashRange(file.Get(), certificateEntry + 8, length, hasher, buffer);
      // An unsigned image is hashed as if padded with zeros to a multiple of 8.
      static const uint8_t zeros[8] = {};
      if (ok && length % 8 != 0) ok = hasher.Add(zeros, 8 - length % 8);
    }
  }
  if (!ok) return GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
  return hasher.Finish(digest) ? 0 : ERROR_FUNCTION_FAILED;
}

}  // namespace palisk
