// The "Crypt.Blowfish" object: Blowfish (Schneier, 1993) with the standard tables and key
// schedule, ECB mode, zero padding, blocks read as two little-endian words.
#pragma once

#include <memory>

#include "framework/crypt_interfaces.h"

namespace Crypt {

// The cipher itself: the P-array and the four S-boxes live on the heap.
class class_blowfish {
 public:
  class_blowfish();
  void SetKey(const uint8_t* key, uint32_t length);
  void EncipherBlock(uint32_t& left, uint32_t& right) const;
  void DecipherBlock(uint32_t& left, uint32_t& right) const;

 private:
  uint32_t F(uint32_t x) const;

  std::unique_ptr<uint32_t[]> m_p;  // 18 words
  std::unique_ptr<uint32_t[]> m_s;  // 4 x 256 words
};

class BlowfishObjectImplementation : public IOvBaseInterface, public IBlowfish {
 public:
  void* QueryInterface(GUID iid) override;
  void SetKey(const uint8_t* key, uint32_t length) override;
  int Encrypt(const void* data, uint32_t count, std::vector<uint8_t>& out) override;
  int Decrypt(const void* data, uint32_t count, std::vector<uint8_t>& out) override;

 private:
  class_blowfish m_cipher;
};

}  // namespace Crypt
