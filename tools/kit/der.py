"""A small DER encoder: just what catalogs (PKCS #7 / CTL) need."""


def _length(n: int) -> bytes:
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag: int, content: bytes) -> bytes:
    return bytes([tag]) + _length(len(content)) + content


def sequence(*items: bytes) -> bytes:
    return tlv(0x30, b"".join(items))


def set_of(*items: bytes) -> bytes:
    # DER orders SET OF elements by their encodings.
    return tlv(0x31, b"".join(sorted(items)))


def integer(value: int) -> bytes:
    length = max(1, (value.bit_length() + 8) // 8)
    return tlv(0x02, value.to_bytes(length, "big", signed=True))


def octet_string(data: bytes) -> bytes:
    return tlv(0x04, data)


def null() -> bytes:
    return b"\x05\x00"


def bmp_string(text: str) -> bytes:
    return tlv(0x1E, text.encode("utf-16-be"))


def utc_time(text: str) -> bytes:
    """`text` as YYMMDDHHMMSSZ."""
    return tlv(0x17, text.encode("ascii"))


def explicit(number: int, content: bytes) -> bytes:
    return tlv(0xA0 | number, content)


def oid(dotted: str) -> bytes:
    parts = [int(p) for p in dotted.split(".")]
    body = bytearray([40 * parts[0] + parts[1]])
    for part in parts[2:]:
        chunk = [part & 0x7F]
        part >>= 7
        while part:
            chunk.append(0x80 | (part & 0x7F))
            part >>= 7
        body.extend(reversed(chunk))
    return tlv(0x06, bytes(body))
