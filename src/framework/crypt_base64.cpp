#include "framework/crypt_base64.h"

#include <windows.h>

#include <cstring>

namespace Crypt {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

void* Base64ObjectImplementation::QueryInterface(GUID iid) {
  if (ov::SameIid(iid, IID_IOvBaseInterface)) return static_cast<IOvBaseInterface*>(this);
  if (ov::SameIid(iid, IID_IBase64)) return static_cast<IBase64*>(this);
  return nullptr;
}

void Base64ObjectImplementation::Encode(const void* data, uint32_t length, std::string& out,
                                        bool pad) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  const uint32_t whole = length / 3;
  const uint32_t rest = length % 3;
  uint32_t size = 4 * whole + (rest == 0 ? 0 : rest + 1);
  if (pad && rest != 0) size = 4 * (whole + 1);
  out.assign(size, '=');

  // From the end towards the start: the partial group first, then whole groups backwards.
  if (rest != 0) {
    const uint32_t b0 = bytes[3 * whole];
    const uint32_t b1 = rest == 2 ? bytes[3 * whole + 1] : 0;
    char* at = &out[4 * whole];
    at[0] = kAlphabet[b0 >> 2];
    at[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    if (rest == 2) at[2] = kAlphabet[(b1 & 15) << 2];
  }
  for (uint32_t group = whole; group-- > 0;) {
    const uint8_t* in = bytes + 3 * group;
    const uint32_t triple = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    char* at = &out[4 * group];
    at[3] = kAlphabet[triple & 63];
    at[2] = kAlphabet[(triple >> 6) & 63];
    at[1] = kAlphabet[(triple >> 12) & 63];
    at[0] = kAlphabet[triple >> 18];
  }
}

void Base64ObjectImplementation::Encode(const std::vector<uint8_t>& data, std::string& out,
                                        bool pad) {
  Encode(data.data(), static_cast<uint32_t>(data.size()), out, pad);
}

uint32_t Base64ObjectImplementation::DecodedSize(uint32_t textLength) { return textLength / 4 * 3; }

int Base64ObjectImplementation::Decode(const std::string& text, uint8_t* out, uint32_t& length) {
  const uint32_t capacity = length;
  length = 0;
  const uint32_t n = static_cast<uint32_t>(text.size());
  if (n == 0) return ERROR_FUNCTION_FAILED;  // nothing to decode

  // Missing characters count as padding, like trailing "=".
  uint32_t padding;
  uint32_t rounded;
  if (n % 4 != 0) {
    padding = 4 - n % 4;
    rounded = n + padding;
  } else {
    padding = 0;
    while (padding < n && text[n - 1 - padding] == '=') ++padding;
    rounded = n;
  }
  if (padding > 2) return ERROR_FUNCTION_FAILED;
  const uint32_t needed = rounded / 4 * 3;
  if (capacity < needed || (needed > 0 && out == nullptr)) return ERROR_FUNCTION_FAILED;

  const uint32_t significant = rounded - padding;  // characters that carry bits
  uint32_t written = 0;
  uint32_t accumulator = 0;
  int bits = 0;
  for (uint32_t i = 0; i < significant; ++i) {
    const int sextet = SextetOf(text[i]);
    if (sextet < 0) return ERROR_FUNCTION_FAILED;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(sextet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out[written++] = static_cast<uint8_t>(accumulator >> bits);
    }
  }
  const uint32_t decoded = needed - padding;
  // The bits left over from a partial group carry no byte.
  std::memset(out + decoded, 0, capacity - decoded);
  length = decoded;
  return 0;
}

int Base64ObjectImplementation::Decode(const std::string& text, std::vector<uint8_t>& out) {
  // Sized from the text as it stands: a text that needs rounding up does not fit.
  uint32_t length = DecodedSize(static_cast<uint32_t>(text.size()));
  out.assign(length, 0);
  if (length == 0) return ERROR_FUNCTION_FAILED;
  const int result = Decode(text, out.data(), length);
  out.resize(length);
  return result;
}

}  // namespace Crypt
