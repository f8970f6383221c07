// The codec interfaces of the crypt objects "Crypt.Base64" and "Crypt.Blowfish".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/interfaces.h"

namespace Crypt {

// Base64 of RFC 4648 (standard alphabet, "=" padding).
class IBase64 {
 public:
  virtual void* QueryInterface(GUID iid) = 0;
  // Replaces `out` with the encoding; with `pad`, "=" fills it to a multiple of 4.
  virtual void Encode(const void* data, uint32_t length, std::string& out, bool pad) = 0;
  virtual void Encode(const std::vector<uint8_t>& data, std::string& out, bool pad) = 0;
  // length / 4 * 3.
  virtual uint32_t DecodedSize(uint32_t textLength) = 0;
  // `length`: the buffer's capacity in, the decoded length out. 0, or 1627 with length 0.
  virtual int Decode(const std::string& text, uint8_t* out, uint32_t& length) = 0;
  virtual int Decode(const std::string& text, std::vector<uint8_t>& out) = 0;
};

// Blowfish in ECB mode with zero padding; each block is two little-endian 32-bit words.
class IBlowfish {
 public:
  virtual void* QueryInterface(GUID iid) = 0;
  virtual void SetKey(const uint8_t* key, uint32_t length) = 0;
  // `out` gets the data rounded up to whole blocks; `data` may point into `out`. Returns 0.
  virtual int Encrypt(const void* data, uint32_t count, std::vector<uint8_t>& out) = 0;
  // Zero padding stays. 0, or 87 (and `out` empty) when `count` is not a multiple of 8.
  virtual int Decrypt(const void* data, uint32_t count, std::vector<uint8_t>& out) = 0;
};

}  // namespace Crypt
