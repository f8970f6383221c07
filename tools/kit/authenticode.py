"""Digests of kit files as Windows catalogs record them.

PE files: the Authenticode image hash (SHA-256) -- the whole file except the optional header's
checksum, the certificate-table directory entry and the certificate table itself; an unsigned
image whose size is not a multiple of 8 is hashed as if zero-padded. Other files: plain SHA-256.
"""
import hashlib
import struct


def is_pe(data: bytes) -> bool:
    if len(data) < 0x40 or data[:2] != b"MZ":
        return False
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    return offset + 24 <= len(data) and data[offset:offset + 4] == b"PE\0\0"


def pe_image_hash(data: bytes) -> bytes:
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    checksum = optional + 64
    directories = optional + (96 if magic == 0x10B else 112)
    cert_entry = directories + 4 * 8
    cert_offset, cert_size = struct.unpack_from("<II", data, cert_entry)

    digest = hashlib.sha256()
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:cert_entry])
    if cert_offset and cert_size:
        digest.update(data[cert_entry + 8:cert_offset])
        digest.update(data[cert_offset + cert_size:])
    else:
        digest.update(data[cert_entry + 8:])
        if len(data) % 8:
            digest.update(b"\0" * (8 - len(data) % 8))
    return digest.digest()


def file_digest(data: bytes) -> bytes:
    return pe_image_hash(data) if is_pe(data) else hashlib.sha256(data).digest()
