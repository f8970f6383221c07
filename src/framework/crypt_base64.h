// The "Crypt.Base64" object.
#pragma once

#include "framework/crypt_interfaces.h"

namespace Crypt {

class Base64ObjectImplementation : public IBase64, public IOvBaseInterface {
 public:
  void* QueryInterface(GUID iid) override;
  void Encode(const void* data, uint32_t length, std::string& out, bool pad) override;
  void Encode(const std::vector<uint8_t>& data, std::string& out, bool pad) override;
  uint32_t DecodedSize(uint32_t textLength) override;
  int Decode(const std::string& text, uint8_t* out, uint32_t& length) override;
  int Decode(const std::string& text, std::vector<uint8_t>& out) override;
};

}  // namespace Crypt
