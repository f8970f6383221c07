// Base64 against RFC 4648 and the decode rules; Blowfish against the published reference
// vectors, with this object's little-endian reading of each block.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/crypt_base64.h"
#include "framework/crypt_blowfish.h"

namespace {

using Crypt::Base64ObjectImplementation;
using Crypt::BlowfishObjectImplementation;
using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

// The reference vectors read each 8-byte block as two big-endian words; this object reads
// little-endian words, so a vector's bytes are reversed within each 4-byte word.
Bytes SwapWords(Bytes bytes) {
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
  return bytes;
}

struct Rfc4648Case {
  const char* data;
  const char* padded;
  const char* unpadded;
};

TEST(Base64, EncodesTheRfc4648Vectors) {
  const Rfc4648Case cases[] = {
      {"", "", ""},
      {"f", "Zg==", "Zg"},
      {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"},
      {"foob", "Zm9vYg==", "Zm9vYg"},
      {"fooba", "Zm9vYmE=", "Zm9vYmE"},
      {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
  };
  Base64ObjectImplementation base64;
  for (const Rfc4648Case& c : cases) {
    std::string out = "stale";
    base64.Encode(c.data, static_cast<uint32_t>(strlen(c.data)), out, true);
    EXPECT_EQ(c.padded, out) << c.data;
    base64.Encode(FromText(c.data), out, false);
    EXPECT_EQ(c.unpadded, out) << c.data;
  }
}

TEST(Base64, EncodesEveryByteValue) {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  Base64ObjectImplementation base64;
  std::string text;
  base64.Encode(all, text, true);
  EXPECT_EQ(344u, text.size());
  EXPECT_EQ("AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g", text.substr(0, 44));
  EXPECT_EQ("/P3+/w==", text.substr(336));
  Bytes back;
  ASSERT_EQ(0, base64.Decode(text, back));
  EXPECT_EQ(all, back);
}

TEST(Base64, DecodesPaddedAndUnpaddedTexts) {
  Base64ObjectImplementation base64;
  const Rfc4648Case cases[] = {
      {"f", "Zg==", "Zg"}, {"fo", "Zm8=", "Zm8"}, {"foobar", "Zm9vYmFy", "Zm9vYmFy"}};
  for (const Rfc4648Case& c : cases) {
    for (const char* text : {c.padded, c.unpadded}) {
      uint8_t buffer[16];
      memset(buffer, 0xCC, sizeof buffer);
      uint32_t length = sizeof buffer;
      ASSERT_EQ(0, base64.Decode(text, buffer, length)) << text;
      EXPECT_EQ(strlen(c.data), length) << text;
      EXPECT_EQ(0, memcmp(c.data, buffer, length)) << text;
      EXPECT_EQ(0, buffer[length]) << "bytes past the decoded length are zeroed";
    }
  }
}

TEST(Base64, DecodeRefusesBadTexts) {
  Base64ObjectImplementation base64;
  for (const char* text : {"Z===", "Zm9vY", "====", "Zm9v!mFy", "Zm=v", ""}) {
    uint8_t buffer[16];
    uint32_t length = sizeof buffer;
    EXPECT_EQ(ERROR_FUNCTION_FAILED, base64.Decode(text, buffer, length)) << text;
    EXPECT_EQ(0u, length) << text;
  }
}

TEST(Base64, DecodeNeedsRoomForTheRoundedLength) {
  Base64ObjectImplementation base64;
  uint8_t buffer[6];
  uint32_t length = 5;  // "Zm9vYg" rounds to 8 characters: 6 bytes of room needed
  EXPECT_EQ(ERROR_FUNCTION_FAILED, base64.Decode("Zm9vYg", buffer, length));
  EXPECT_EQ(0u, length);
  length = 6;
  EXPECT_EQ(0, base64.Decode("Zm9vYg", buffer, length));
  EXPECT_EQ(4u, length);
}

TEST(Base64, VectorDecodeSizesFromTheUnroundedLength) {
  Base64ObjectImplementation base64;
  EXPECT_EQ(6u, base64.DecodedSize(8));
  EXPECT_EQ(3u, base64.DecodedSize(7));
  Bytes out;
  EXPECT_EQ(0, base64.Decode("Zm8=", out));
  EXPECT_EQ(FromText("fo"), out);
  // Three characters size the vector to 0 bytes: nothing can be decoded into it.
  EXPECT_EQ(ERROR_FUNCTION_FAILED, base64.Decode("Zm8", out));
  EXPECT_TRUE(out.empty());
  // Seven characters size it to 3 bytes, but the rounded text needs 6.
  EXPECT_EQ(ERROR_FUNCTION_FAILED, base64.Decode("Zm9vYmE", out));
  EXPECT_TRUE(out.empty());
}

TEST(CryptObjects, AnswerTheirInterfacesOnly) {
  Base64ObjectImplementation base64;
  EXPECT_EQ(static_cast<Crypt::IBase64*>(&base64), base64.QueryInterface(IID_IBase64));
  EXPECT_EQ(static_cast<IOvBaseInterface*>(&base64), base64.QueryInterface(IID_IOvBaseInterface));
  EXPECT_EQ(nullptr, base64.QueryInterface(IID_IBlowfish));
  BlowfishObjectImplementation blowfish;
  EXPECT_EQ(static_cast<Crypt::IBlowfish*>(&blowfish), blowfish.QueryInterface(IID_IBlowfish));
  EXPECT_EQ(static_cast<IOvBaseInterface*>(&blowfish),
            blowfish.QueryInterface(IID_IOvBaseInterface));
  EXPECT_EQ(nullptr, blowfish.QueryInterface(IID_IBase64));
  EXPECT_EQ(nullptr, blowfish.QueryInterface(IID_IServPlugin));
}

TEST(CryptObjects, SlotsAreInTheContractOrder) {
  Base64ObjectImplementation object;
  Crypt::IBase64* base64 = &object;
  using DecodedSizeFn = uint32_t(__thiscall*)(void*, uint32_t);
  DecodedSizeFn decodedSize = (*reinterpret_cast<DecodedSizeFn**>(base64))[3];
  EXPECT_EQ(6u, decodedSize(base64, 8));

  BlowfishObjectImplementation bf;
  Crypt::IBlowfish* blowfish = &bf;
  using QueryFn = void*(__thiscall*)(void*, GUID);
  QueryFn query = (*reinterpret_cast<QueryFn**>(blowfish))[0];
  EXPECT_EQ(blowfish, query(blowfish, IID_IBlowfish));
}

struct BlowfishVector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published Blowfish test vectors (Schneier; Eric Young's set), big-endian block notation.
const BlowfishVector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
};

TEST(Blowfish, MatchesTheReferenceVectors) {
  for (const BlowfishVector& v : kVectors) {
    BlowfishObjectImplementation blowfish;
    const Bytes key = FromHex(v.key);
    blowfish.SetKey(key.data(), static_cast<uint32_t>(key.size()));
    const Bytes plain = SwapWords(FromHex(v.plain));
    Bytes cipher;
    ASSERT_EQ(0, blowfish.Encrypt(plain.data(), 8, cipher));
    EXPECT_EQ(v.cipher, ToHex(SwapWords(cipher))) << "key " << v.key;
    Bytes back;
    ASSERT_EQ(0, blowfish.Decrypt(cipher.data(), 8, back));
    EXPECT_EQ(plain, back) << "key " << v.key;
  }
}

TEST(Blowfish, KeyScheduleCyclesLongTextKeys) {
  // Schneier's variable-length key vectors.
  BlowfishObjectImplementation blowfish;
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  blowfish.SetKey(reinterpret_cast<const uint8_t*>(alphabet.data()), 26);
  Bytes cipher;
  const Bytes plain = SwapWords(FromText("BLOWFISH"));
  blowfish.Encrypt(plain.data(), 8, cipher);
  EXPECT_EQ("324ED0FEF413A203", ToHex(SwapWords(cipher)));

  const std::string galt = "Who is John Galt?";
  blowfish.SetKey(reinterpret_cast<const uint8_t*>(galt.data()), 17);
  const Bytes plain2 = SwapWords(FromHex("FEDCBA9876543210"));
  blowfish.Encrypt(plain2.data(), 8, cipher);
  EXPECT_EQ("CC91732B8022F684", ToHex(SwapWords(cipher)));
}

TEST(Blowfish, PadsToWholeBlocksWithZeros) {
  BlowfishObjectImplementation blowfish;
  const uint8_t key[] = {1, 2, 3, 4, 5, 6};
  blowfish.SetKey(key, sizeof key);
  Bytes out;
  EXPECT_EQ(0, blowfish.Encrypt("hello", 5, out));
  EXPECT_EQ(8u, out.size());
  EXPECT_EQ(0, blowfish.Encrypt("0123456789abcdef", 16, out));
  EXPECT_EQ(16u, out.size());

  const std::string secret = "proxy password";
  Bytes cipher;
  blowfish.Encrypt(secret.data(), static_cast<uint32_t>(secret.size()), cipher);
  ASSERT_EQ(16u, cipher.size());
  Bytes plain;
  ASSERT_EQ(0, blowfish.Decrypt(cipher.data(), 16, plain));
  Bytes expected = FromText(secret);
  expected.resize(16, 0);
  EXPECT_EQ(expected, plain) << "the zero fill stays after decryption";
}

TEST(Blowfish, EncryptsInPlace) {
  BlowfishObjectImplementation blowfish;
  const uint8_t key[] = {'k', 'e', 'y'};
  blowfish.SetKey(key, sizeof key);
  Bytes reference;
  blowfish.Encrypt("in place!", 9, reference);

  Bytes buffer = FromText("in place!");
  ASSERT_EQ(0, blowfish.Encrypt(buffer.data(), 9, buffer));
  EXPECT_EQ(reference, buffer);
  ASSERT_EQ(0, blowfish.Decrypt(buffer.data(), 16, buffer));
  EXPECT_EQ(0, memcmp("in place!", buffer.data(), 9));
}

TEST(Blowfish, RefusesPartialBlocksToDecrypt) {
  BlowfishObjectImplementation blowfish;
  Bytes out = {1, 2, 3};
  EXPECT_EQ(ERROR_INVALID_PARAMETER, blowfish.Decrypt("1234567890", 10, out));
  EXPECT_TRUE(out.empty());
}

TEST(Blowfish, DifferentKeysGiveDifferentCiphers) {
  BlowfishObjectImplementation a, b;
  const uint8_t keyA[] = {1, 2, 3, 4, 5, 6};
  const uint8_t keyB[] = {1, 2, 3, 4, 5, 7};
  a.SetKey(keyA, 6);
  b.SetKey(keyB, 6);
  Bytes ca, cb;
  a.Encrypt("same text", 9, ca);
  b.Encrypt("same text", 9, cb);
  EXPECT_NE(ca, cb);
}

}  // namespace
