#!/usr/bin/env python3
"""Builds the kits that Windows-side tests read from disk (catalog and signature checks):
    make_test_kits.py <out folder>
writes <out>/<kit name>/... trees and <out>/kits.json describing each kit's members."""
import hashlib
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from build_tree import BUILD  # noqa: E402
PKI = os.path.join(BUILD, "pki")
sys.path.insert(0, os.path.join(ROOT, "tools", "kit"))
import authenticode  # noqa: E402
import kittool  # noqa: E402

KITS = {
    "good": {},
    "tags-without-nul": {"breaks": ["tags-without-nul"]},
    "no-file-name": {"breaks": ["no-file-name:readme.txt"]},
    "unsigned-catalog": {"breaks": ["unsigned-catalog"]},
    "catalog-altered": {"breaks": ["catalog-altered"]},
    "sha1-member": {"breaks": ["sha1-member:readme.txt"]},
    "wrong-digest": {"breaks": ["wrong-digest:readme.txt"]},
    "unsigned-installer": {"breaks": ["unsigned-pe:Installer.exe"]},
    "o-different": {"catalog": "o-different"},
    "cn-different": {"catalog": "cn-different"},
    "expired": {"catalog": "expired"},
    "untrusted": {"catalog": "untrusted"},
    "denied": {"catalog": "denied"},
}


def main(out):
    if os.path.exists(out):
        shutil.rmtree(out)
    source = os.path.join(out, "source")
    os.makedirs(os.path.join(source, "sub"))
    shutil.copyfile(os.path.join(BUILD, "tests", "bin", "test_installer.exe"), os.path.join(source, "Installer.exe"))
    with open(os.path.join(source, "readme.txt"), "w") as f:
        f.write("Orvane Endpoint Security\r\n")
    with open(os.path.join(source, "sub", "Data.Bin"), "wb") as f:
        f.write(bytes(range(256)) * 4)
    product = {"manufacturer": "Orvane", "productname": "Endpoint", "retry_fail": 1}
    description = {}
    for name, recipe in KITS.items():
        signer = recipe.get("catalog")
        tree = os.path.join(out, name)
        kittool.build_kit(product, tree, "http://127.0.0.1:1/", os.path.join(PKI, "publisher.chain.pem"),
                          os.path.join(PKI, "publisher.key"), files_win32=source,
                          catalog_cert=os.path.join(PKI, signer + ".chain.pem") if signer else None,
                          catalog_key=os.path.join(PKI, signer + ".key") if signer else None,
                          breaks=recipe.get("breaks", ()))
        folder = os.path.join(tree, "kits", "1.0.0", "win32")
        members = {}
        for member in ("Installer.exe", "readme.txt", "sub/Data.Bin"):
            data = open(os.path.join(folder, *member.split("/")), "rb").read()
            members["x86\\" + member.replace("/", "\\")] = authenticode.file_digest(data).hex()
        description[name] = {"folder": folder, "members": members}
    # An unsigned image whose size is no multiple of 8: hashed as if padded with zeros.
    unsigned = os.path.join(out, "unsigned", "Installer.exe")
    os.makedirs(os.path.dirname(unsigned))
    with open(os.path.join(source, "Installer.exe"), "rb") as f:
        data = f.read() + b"\0\0\0"
    with open(unsigned, "wb") as f:
        f.write(data)
    description["unsigned-pe"] = {"digest": authenticode.file_digest(data).hex()}
    shutil.rmtree(source)
    with open(os.path.join(out, "kits.json"), "w") as f:
        json.dump(description, f, indent=2)


if __name__ == "__main__":
    main(sys.argv[1])
