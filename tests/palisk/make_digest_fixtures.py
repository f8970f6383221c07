#!/usr/bin/env python3
"""Files with the SHA-256 digests Windows' catalog hashing gives them, worked out here from the
file formats alone (PE/COFF and the Authenticode image hash), for the verifier's tests:
    make_digest_fixtures.py <out folder>
writes the files into <out> and <out>/digests.json: {file name: lowercase hex digest}.

Data files: the SHA-256 of their bytes. PE images: the Authenticode image hash, step by step:
  1. the headers (SizeOfHeaders bytes) without the optional header's CheckSum field and without
     the Certificate Table entry of the data directories;
  2. each section's raw data (SizeOfRawData bytes at PointerToRawData), sections in the order
     of PointerToRawData, empty ones left out; a running count of the bytes hashed so far;
  3. the data after them: from that count up to the file's size less the certificate table's;
  4. the certificate table itself is never hashed. A signing tool pads the image with zeros to
     an 8-byte boundary before it appends the table, and those zeros are hashed; an unsigned
     image whose size is no multiple of 8 is hashed with the same zeros added, so an image has
     one digest before and after it is signed.
"""
import hashlib
import json
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
from build_tree import BUILD  # noqa: E402

PE32, PE32_PLUS = 0x10B, 0x20B
FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
CERTIFICATE_ENTRY = 4  # index of the Certificate Table in the data directories


def align(value, to):
    return (value + to - 1) // to * to


def build_image(magic, sections, overlay=b""):
    """A PE image as a linker lays it out: headers, then each section's raw data padded to the
    file alignment, then `overlay`. `sections`: [(name, bytes)]. The CheckSum is set (to a
    value no tool would compute) so that leaving it out of the digest matters."""
    pe_offset = 0x80
    optional_size = (96 if magic == PE32 else 112) + 16 * 8
    section_table = pe_offset + 24 + optional_size
    headers_size = align(section_table + 40 * len(sections), FILE_ALIGNMENT)

    raw_offset = headers_size
    table = b""
    body = b""
    for index, (name, data) in enumerate(sections):
        raw = data + b"\0" * (align(len(data), FILE_ALIGNMENT) - len(data))
        address = SECTION_ALIGNMENT * (index + 1)
        table += struct.pack("<8sIIIIIIHHI", name, len(data), address, len(raw), raw_offset, 0, 0, 0, 0, 0x60000020)
        body += raw
        raw_offset += len(raw)
    image_size = SECTION_ALIGNMENT * (len(sections) + 1)

    dos = bytearray(pe_offset)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, pe_offset)
    dos[0x40:0x40 + 32] = b"This program is a test fixture.\0"
    machine = 0x14C if magic == PE32 else 0x8664
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", machine, len(sections), 0x5F000000, 0, 0, optional_size, 0x0102)

    optional = bytearray(optional_size)
    struct.pack_into("<HBB", optional, 0, magic, 2, 38)
    struct.pack_into("<IIII", optional, 4, len(body), 0, 0, SECTION_ALIGNMENT)  # SizeOfCode, initialised and uninitialised data, entry point
    if magic == PE32:
        struct.pack_into("<III", optional, 20, SECTION_ALIGNMENT, SECTION_ALIGNMENT, 0x400000)
    else:
        struct.pack_into("<IQ", optional, 20, SECTION_ALIGNMENT, 0x140000000)
    struct.pack_into("<IIHHHHHHIII", optional, 32, SECTION_ALIGNMENT, FILE_ALIGNMENT, 6, 0, 0, 0, 6, 0, 0,
                     image_size, headers_size)
    struct.pack_into("<IHH", optional, 64, 0x1234ABCD, 3, 0x8140)  # CheckSum, Subsystem, DllCharacteristics
    directories = 96 if magic == PE32 else 112
    struct.pack_into("<I", optional, directories - 4, 16)  # NumberOfRvaAndSizes
    headers = bytes(dos) + coff + bytes(optional) + table
    headers += b"\0" * (headers_size - len(headers))
    return headers + body + overlay


def directory_offset(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    return optional + (96 if magic == PE32 else 112)


def sign(image, blob):
    """What a signing tool does: zeros to an 8-byte boundary, then a certificate table (one
    WIN_CERTIFICATE, revision 2.0, PKCS #7 type, padded to 8 bytes) named in the directory."""
    padded = bytearray(image + b"\0" * (-len(image) % 8))
    certificate = struct.pack("<IHH", 8 + len(blob), 0x0200, 0x0002) + blob
    certificate += b"\0" * (-len(certificate) % 8)
    struct.pack_into("<II", padded, directory_offset(padded) + 8 * CERTIFICATE_ENTRY, len(padded), len(certificate))
    return bytes(padded) + certificate


def image_digest(data):
    """The Authenticode image hash (SHA-256), following the steps in this file's description."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    section_count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    checksum = optional + 64
    headers_size = struct.unpack_from("<I", data, optional + 60)[0]
    certificate_entry = directory_offset(data) + 8 * CERTIFICATE_ENTRY
    table_offset, table_size = struct.unpack_from("<II", data, certificate_entry)
    if table_offset == 0:
        table_size = 0

    digest = hashlib.sha256()
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:certificate_entry])
    digest.update(data[certificate_entry + 8:headers_size])
    hashed = headers_size
    sections = []
    for index in range(section_count):
        entry = optional + optional_size + 40 * index
        raw_size, raw_offset = struct.unpack_from("<II", data, entry + 16)
        if raw_size:
            sections.append((raw_offset, raw_size))
    for raw_offset, raw_size in sorted(sections):
        digest.update(data[raw_offset:raw_offset + raw_size])
        hashed += raw_size
    if len(data) > hashed:
        digest.update(data[hashed:len(data) - table_size])
    if table_size == 0 and len(data) % 8:
        digest.update(b"\0" * (8 - len(data) % 8))
    return digest.hexdigest()


def pattern(size, seed):
    """Deterministic bytes that are not all alike."""
    out = bytearray(size)
    state = seed
    for i in range(size):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = state >> 16 & 0xFF
    return bytes(out)


def main(out):
    if os.path.exists(out):
        shutil.rmtree(out)
    os.makedirs(out)
    code = b"\x55\x48\x89\xE5\xC3" * 51   # 255 bytes: raw data padded to the file alignment
    big = pattern(150 * 1024 + 5, 7)       # a section larger than one read of the hashing
    unaligned32 = build_image(PE32, [(b".text", code), (b".data", b"data")], overlay=b"overlay-13b")
    unaligned64 = build_image(PE32_PLUS, [(b".text", code), (b".rdata", big)], overlay=b"odd")
    images = {
        "pe32-unsigned-unaligned.dll": unaligned32,
        "pe32-unsigned-aligned.dll": build_image(PE32, [(b".text", code), (b".data", b"data")]),
        "pe32-signed.dll": sign(unaligned32, pattern(301, 3)),
        "pe32plus-unsigned-unaligned.exe": unaligned64,
        "pe32plus-unsigned-aligned.exe": build_image(PE32_PLUS, [(b".text", code), (b".bss", b"")],
                                                     overlay=b"8 bytes!"),
        "pe32plus-signed.exe": sign(unaligned64, pattern(1200, 5)),
    }
    # An image a linker wrote (the test installer), unsigned, also with its size made odd.
    linked = open(os.path.join(BUILD, "tests", "bin", "test_installer.exe"), "rb").read()
    images["linked.exe"] = linked
    images["linked-unaligned.exe"] = linked + b"\x01\x02\x03"
    data_files = {
        "empty.bin": b"",
        "readme.txt": b"Orvane Endpoint Security\r\n",
        "mz-but-no-image.bin": b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40) + b"NE\0\0" + pattern(100, 9),
        "large.bin": pattern(200 * 1024 + 3, 11),
    }
    digests = {}
    for name, data in images.items():
        digests[name] = image_digest(data)
    for name, data in data_files.items():
        digests[name] = hashlib.sha256(data).hexdigest()
    for name, data in list(images.items()) + list(data_files.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    # The property the padding rule exists for: signing leaves an image's digest as it was.
    assert digests["pe32-signed.dll"] == digests["pe32-unsigned-unaligned.dll"]
    assert digests["pe32plus-signed.exe"] == digests["pe32plus-unsigned-unaligned.exe"]
    with open(os.path.join(out, "digests.json"), "w") as f:
        json.dump(digests, f, indent=2, sort_keys=True)


if __name__ == "__main__":
    main(sys.argv[1])
