"""Writes a .reg file that puts a root certificate into the machine's Root store, the way
Windows keeps it: HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\<SHA-1>,
value "Blob" = the serialized certificate (property CERT_CERT_PROP_ID holding the DER).

    wineroot.py root.crt > root.reg && wine reg import root.reg
"""
import base64
import hashlib
import re
import struct
import sys

CERT_SHA1_HASH_PROP_ID = 3
CERT_CERT_PROP_ID = 32


def der_from_pem(text: str) -> bytes:
    body = re.search(r"-----BEGIN CERTIFICATE-----(.*?)-----END CERTIFICATE-----", text, re.S).group(1)
    return base64.b64decode("".join(body.split()))


def serialized(der: bytes) -> bytes:
    def prop(prop_id, data):
        return struct.pack("<III", prop_id, 1, len(data)) + data
    return prop(CERT_SHA1_HASH_PROP_ID, hashlib.sha1(der).digest()) + prop(CERT_CERT_PROP_ID, der)


def reg_text(der: bytes) -> str:
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    blob = serialized(der)
    hexed = ",".join("%02x" % b for b in blob)
    # .reg lines are folded at 80 columns with a trailing backslash.
    lines, line = [], '"Blob"=hex:'
    for part in hexed.split(","):
        if len(line) + len(part) + 2 > 78:
            lines.append(line + ",\\")
            line = "  " + part
        else:
            line += ("" if line.endswith(":") else ",") + part
    lines.append(line)
    key = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint
    return "REGEDIT4\n\n[" + key + "]\n" + "\n".join(lines) + "\n"


if __name__ == "__main__":
    sys.stdout.write(reg_text(der_from_pem(open(sys.argv[1]).read())))
