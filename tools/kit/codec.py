"""What the kit side encodes for Palisk to decode.

- URLs: Base64 of the UTF-8 text with "/" written as "-" (for the sourceUrlEnc option and for
  a wrapper's file name between square brackets).
- Proxy passwords: Blowfish (ECB, zero padding, each block read as two little-endian words)
  under the deployment's proxy key, then Base64.
"""
import base64
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from gen_blowfish_tables import pi_fraction_words  # noqa: E402

# The deployment's proxy-password key. Palisk assembles the same text at run time.
PROXY_KEY = b"Orvane-Palisk/proxy-credentials#2026"


def encode_url(url: str) -> str:
    return base64.b64encode(url.encode("utf-8")).decode("ascii").replace("/", "-")


def decode_url(text: str) -> str:
    return base64.b64decode(text.replace("-", "/")).decode("utf-8")


class Blowfish:
    def __init__(self, key: bytes):
        words = pi_fraction_words()
        self.p = words[:18]
        self.s = [words[18 + 256 * i:18 + 256 * (i + 1)] for i in range(4)]
        at = 0
        for i in range(18):
            word = 0
            for _ in range(4):
                word = (word << 8) | key[at]
                at = (at + 1) % len(key)
            self.p[i] ^= word
        left = right = 0
        for i in range(0, 18, 2):
            left, right = self.encipher(left, right)
            self.p[i], self.p[i + 1] = left, right
        for box in range(4):
            for i in range(0, 256, 2):
                left, right = self.encipher(left, right)
                self.s[box][i], self.s[box][i + 1] = left, right

    def _f(self, x):
        s = self.s
        return ((((s[0][x >> 24] + s[1][(x >> 16) & 255]) & 0xFFFFFFFF) ^ s[2][(x >> 8) & 255])
                + s[3][x & 255]) & 0xFFFFFFFF

    def encipher(self, left, right):
        for i in range(16):
            left ^= self.p[i]
            right ^= self._f(left)
            left, right = right, left
        left, right = right, left
        right ^= self.p[16]
        left ^= self.p[17]
        return left, right

    def encrypt(self, data: bytes) -> bytes:
        data = data + b"\0" * (-len(data) % 8)
        out = bytearray()
        for at in range(0, len(data), 8):
            left, right = struct.unpack_from("<II", data, at)
            out += struct.pack("<II", *self.encipher(left, right))
        return bytes(out)


def encrypt_proxy_password(password: str, key: bytes = PROXY_KEY) -> str:
    if not password:
        return ""
    return base64.b64encode(Blowfish(key).encrypt(password.encode("utf-8"))).decode("ascii")


if __name__ == "__main__":
    # Schneier's vector, big-endian notation: key "abcdefghijklmnopqrstuvwxyz", "BLOWFISH".
    bf = Blowfish(b"abcdefghijklmnopqrstuvwxyz")
    left, right = bf.encipher(*struct.unpack(">II", b"BLOWFISH"))
    print("%08X%08X" % (left, right))
