#include "framework/crypt_blowfish.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "blowfish_tables.h"

namespace Crypt {
namespace {

constexpr int kRounds = 16;

uint32_t LoadLittleEndian(const uint8_t* at) {
  return uint32_t{at[0]} | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16) | (uint32_t{at[3]} << 24);
}

void StoreLittleEndian(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

class_blowfish::class_blowfish() : m_p(new uint32_t[18]), m_s(new uint32_t[4 * 256]) {
  SetKey(nullptr, 0);
}

uint32_t class_blowfish::F(uint32_t x) const {
  const uint32_t* s = m_s.get();
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
}

void class_blowfish::EncipherBlock(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (int i = 0; i < kRounds; ++i) {
    l ^= m_p[i];
    r ^= F(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= m_p[kRounds];
  l ^= m_p[kRounds + 1];
  left = l;
  right = r;
}

void class_blowfish::DecipherBlock(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (int i = kRounds + 1; i > 1; --i) {
    l ^= m_p[i];
    r ^= F(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= m_p[1];
  l ^= m_p[0];
  left = l;
  right = r;
}

// The standard schedule: the key (read big-endian, cycled) is mixed into P, then an
// all-zero block is enciphered over and over to replace P and the S-boxes pair by pair.
// An empty key leaves the initial tables mixed with nothing.
void class_blowfish::SetKey(const uint8_t* key, uint32_t length) {
  std::memcpy(m_p.get(), kBlowfishInitialP, sizeof kBlowfishInitialP);
  std::memcpy(m_s.get(), kBlowfishInitialS, sizeof kBlowfishInitialS);
  if (key != nullptr && length > 0) {
    uint32_t at = 0;
    for (int i = 0; i < kRounds + 2; ++i) {
      uint32_t word = 0;
      for (int b = 0; b < 4; ++b) {
        word = (word << 8) | key[at];
        at = (at + 1) % length;
      }
      m_p[i] ^= word;
    }
  }
  uint32_t left = 0, right = 0;
  for (int i = 0; i < kRounds + 2; i += 2) {
    EncipherBlock(left, right);
    m_p[i] = left;
    m_p[i + 1] = right;
  }
  for (int i = 0; i < 4 * 256; i += 2) {
    EncipherBlock(left, right);
    m_s[i] = left;
    m_s[i + 1] = right;
  }
}

void* BlowfishObjectImplementation::QueryInterface(GUID iid) {
  if (ov::SameIid(iid, IID_IOvBaseInterface)) return static_cast<IOvBaseInterface*>(this);
  if (ov::SameIid(iid, IID_IBlowfish)) return static_cast<IBlowfish*>(this);
  return nullptr;
}

void BlowfishObjectImplementation::SetKey(const uint8_t* key, uint32_t length) {
  m_cipher.SetKey(key, length);
}

int BlowfishObjectImplementation::Encrypt(const void* data, uint32_t count,
                                          std::vector<uint8_t>& out) {
  // Built aside first: `data` may point into `out`, which resizing could move.
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> result(bytes, bytes + count);
  result.resize((count + 7) / 8 * 8, 0);
  for (size_t at = 0; at < result.size(); at += 8) {
    uint32_t left = LoadLittleEndian(&result[at]);
    uint32_t right = LoadLittleEndian(&result[at + 4]);
    m_cipher.EncipherBlock(left, right);
    StoreLittleEndian(&result[at], left);
    StoreLittleEndian(&result[at + 4], right);
  }
  out = std::move(result);
  return 0;
}

int BlowfishObjectImplementation::Decrypt(const void* data, uint32_t count,
                                          std::vector<uint8_t>& out) {
  // A partial block cannot come from Encrypt: refuse it rather than return garbage.
  if (count % 8 != 0) {
    out.clear();
    return ERROR_INVALID_PARAMETER;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> result(bytes, bytes + count);
  for (size_t at = 0; at < result.size(); at += 8) {
    uint32_t left = LoadLittleEndian(&result[at]);
    uint32_t right = LoadLittleEndian(&result[at + 4]);
    m_cipher.DecipherBlock(left, right);
    StoreLittleEndian(&result[at], left);
    StoreLittleEndian(&result[at + 4], right);
  }
  out = std::move(result);
  return 0;
}

}  // namespace Crypt
