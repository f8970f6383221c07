#!/usr/bin/env python3
"""Signs a copy of the planted probe library with the test publisher, for the load protection's
tests: make_probe_dlls.py <tests bin folder> writes <bin>/planted_probe_signed.dll."""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from build_tree import BUILD  # noqa: E402
sys.path.insert(0, os.path.join(ROOT, "tools", "kit"))
import kittool  # noqa: E402


def main(bin_folder):
    pki = os.path.join(BUILD, "pki")
    signed = os.path.join(bin_folder, "planted_probe_signed.dll")
    shutil.copyfile(os.path.join(bin_folder, "planted_probe.dll"), signed)
    kittool.sign_file(signed, os.path.join(pki, "publisher.chain.pem"), os.path.join(pki, "publisher.key"))
    print("signed", signed)


if __name__ == "__main__":
    main(sys.argv[1])
