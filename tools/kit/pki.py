"""The test PKI, generated with openssl: a root installed into the test Wine prefix, the
publisher certificate and the negative certificates the verifier must refuse.

    pki.py <folder>            creates what is missing and prints the folder
Each certificate <name> gives <name>.crt, <name>.key and <name>.chain.pem (leaf then root).
"""
import os
import subprocess
import sys
import tempfile

PUBLISHER_SUBJECT = "/C=RO/O=Orvane SRL/CN=Orvane SRL"
DENIED_SERIAL = "5d0c7a1e93b84f26a1c09e3b7d4f8a12"

# name: (subject, issuer, serial or None, days valid or "expired")
LEAVES = {
    "publisher": (PUBLISHER_SUBJECT, "root", None, 3650),
    "o-different": ("/C=RO/O=Orvane Labs SRL/CN=Orvane SRL", "root", None, 3650),
    "cn-different": ("/C=RO/O=Orvane SRL/CN=Orvane Tools", "root", None, 3650),
    "expired": (PUBLISHER_SUBJECT, "root", None, "expired"),
    "untrusted": (PUBLISHER_SUBJECT, "other-root", None, 3650),
    "denied": (PUBLISHER_SUBJECT, "root", DENIED_SERIAL, 3650),
}

EXTENSIONS = """
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_root(folder, name, subject):
    crt = os.path.join(folder, name + ".crt")
    if os.path.exists(crt):
        return
    key = os.path.join(folder, name + ".key")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
        "-days", "3650", "-sha256", "-subj", subject, "-extensions", "root",
        "-config", os.path.join(folder, "extensions.cnf"))


def make_leaf(folder, name, subject, issuer, serial, days):
    crt = os.path.join(folder, name + ".crt")
    if os.path.exists(crt):
        return
    key = os.path.join(folder, name + ".key")
    csr = os.path.join(folder, name + ".csr")
    run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
        "-subj", subject)
    serial = serial or os.urandom(16).hex()
    common = ["-in", csr, "-CA", os.path.join(folder, issuer + ".crt"),
              "-CAkey", os.path.join(folder, issuer + ".key"), "-set_serial", "0x" + serial,
              "-sha256", "-extfile", os.path.join(folder, "extensions.cnf"), "-extensions", "leaf",
              "-out", crt]
    if days == "expired":
        make_expired(folder, name, csr, issuer, serial)
    else:
        run("openssl", "x509", "-req", "-days", str(days), *common)
    os.remove(csr)
    with open(os.path.join(folder, name + ".chain.pem"), "w") as chain:
        chain.write(open(crt).read())
        chain.write(open(os.path.join(folder, issuer + ".crt")).read())


def make_expired(folder, name, csr, issuer, serial):
    """A certificate valid during 2020 only: `openssl ca` is the tool that takes explicit dates."""
    work = tempfile.mkdtemp(dir=folder)
    open(os.path.join(work, "index.txt"), "w").close()
    with open(os.path.join(work, "serial"), "w") as s:
        s.write(serial + "\n")
    config = os.path.join(work, "ca.cnf")
    with open(config, "w") as c:
        c.write(f"""[ca]
default_ca = expired
[expired]
database = {work}/index.txt
serial = {work}/serial
new_certs_dir = {work}
default_md = sha256
policy = anything
unique_subject = no
[anything]
countryName = optional
organizationName = optional
commonName = supplied
""" + EXTENSIONS)
    run("openssl", "ca", "-batch", "-config", config, "-cert", os.path.join(folder, issuer + ".crt"),
        "-keyfile", os.path.join(folder, issuer + ".key"), "-in", csr,
        "-out", os.path.join(folder, name + ".crt"), "-extensions", "leaf",
        "-startdate", "20200101000000Z", "-enddate", "20210101000000Z", "-notext")
    for entry in os.listdir(work):
        os.remove(os.path.join(work, entry))
    os.rmdir(work)


def ensure(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "extensions.cnf"), "w") as cnf:
        cnf.write("[req]\ndistinguished_name = dn\n[dn]\n" + EXTENSIONS)
    make_root(folder, "root", "/C=RO/O=Palisk Test/CN=Palisk Test Root")
    make_root(folder, "other-root", "/C=RO/O=Palisk Test/CN=Palisk Uninstalled Root")
    for name, (subject, issuer, serial, days) in LEAVES.items():
        make_leaf(folder, name, subject, issuer, serial, days)
    return folder


if __name__ == "__main__":
    print(ensure(sys.argv[1]))
