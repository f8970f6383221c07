#!/usr/bin/env python3
"""Builds a Palisk kit as a kit server serves it, from a folder of kit files and a small
product description; also encodes URLs and proxy passwords the way Palisk decodes them.

    kittool.py build --product product.json --files-win32 DIR [--files-x64 DIR] --out TREE
                     --base-url URL --cert PEM --key KEY [--kit-folder kits/1.0.0]
                     [--catalog-cert PEM --catalog-key KEY] [--break RULE ...]
    kittool.py encode-url URL
    kittool.py encrypt-proxy-pass TEXT

The tree:
    TREE/installer.xml              the configuration XML (downloadUrl = URL)
    TREE/latest.dat                 "<version> <kit folder>"
    TREE/<kit folder>/win32/        data.xml, kit.cat and the files of the 32-bit kit
    TREE/<kit folder>/x64/          the same for 64-bit

On the client, kit.cat lands in the working folder and the files below "x86" (win32 kit) or
"x64", so catalog members are named relative to the working folder: "x86\\Installer.exe".

Breaking rules (for tests): wrong-digest:NAME, sha1-member:NAME, missing-size:NAME,
dotdot-name, unsigned-catalog, catalog-altered, tamper-file:NAME (served file changed after
the catalog was made), unsigned-pe:NAME (PE file left unsigned), no-file-name:NAME (the
member carries no "File" name). Other forms: tags-without-nul (member tags stored without the
terminating NUL that Windows' catalog tools write).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape, quoteattr

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import authenticode  # noqa: E402
import catalog  # noqa: E402
import codec  # noqa: E402

ARCHITECTURES = {"win32": "x86", "x64": "x64"}  # server folder -> client folder


class KitError(Exception):
    pass


def sign_file(path, cert, key):
    """Authenticode-signs `path` in place with SHA-256."""
    signed = path + ".signed"
    result = subprocess.run(
        ["osslsigncode", "sign", "-h", "sha256", "-certs", cert, "-key", key, "-in", path, "-out", signed],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        raise KitError("osslsigncode failed for %s: %s" % (path, result.stdout.strip()))
    os.replace(signed, path)


def config_xml(config: dict) -> str:
    lines = ["<?xml version=\"1.0\" encoding=\"utf-8\"?>", "<config>"]
    for name in ("downloadUrl", "proxyServer", "proxyPort", "proxyUser", "proxyPass", "autodetectProxy",
                 "installLink", "statusLink", "keepSettings"):
        if name not in config:
            continue
        value = str(config[name])
        if name == "proxyPass":
            value = codec.encrypt_proxy_password(value)
        lines.append("  <%s>%s</%s>" % (name, escape(value), name))
    lines.append("</config>")
    return "\n".join(lines) + "\n"


def data_xml(product: dict, entries) -> str:
    lines = ["<?xml version=\"1.0\" encoding=\"utf-8\"?>", "<root>"]
    for name in ("manufacturer", "productname", "UpgradeCode", "minspaceavailabe", "retry_fail"):
        if name in product:
            lines.append("  <%s>%s</%s>" % (name, escape(str(product[name])), name))
    run = product.get("run_command")
    if run is not None:
        attributes = " proc=%s" % quoteattr(run.get("proc", "Installer.exe"))
        if "params" in run:
            attributes += " params=%s" % quoteattr(run["params"])
        lines.append("  <run_command%s/>" % attributes)
    lines.append("  <files>")
    for entry in entries:
        attributes = "".join(" %s=%s" % (k, quoteattr(str(v))) for k, v in entry.items())
        lines.append("    <file%s/>" % attributes)
    lines.append("  </files>")
    lines.append("</root>")
    return "\n".join(lines) + "\n"


# Files that Windows' catalog hashing (CryptCATAdminCalcHashFromFileHandle2) digests through a
# subject interface of their own, not as flat bytes: cabinets and compound files (MSI) by
# their content, catalogs and scripts by their extension. The verifier on Windows would
# compute another digest than the catalog holds, so such files are refused in a kit.
OWN_SUBJECT_EXTENSIONS = {".cab", ".msi", ".msp", ".mst", ".cat", ".ps1", ".psm1", ".psd1", ".ps1xml", ".psc1",
                          ".cdxml", ".vbs", ".js", ".wsf", ".appx", ".msix", ".appxbundle", ".msixbundle"}
OWN_SUBJECT_MAGICS = {b"MSCF": "a cabinet", b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1": "a compound file (MSI)"}


def refuse_own_subject(name: str, data: bytes):
    """Raises ValueError for a member whose system digest is not the flat or PE image hash."""
    extension = os.path.splitext(name)[1].lower()
    if extension in OWN_SUBJECT_EXTENSIONS:
        raise ValueError(f"{name}: Windows hashes {extension} files by their own subject, not as the catalog "
                         "records them; pack it inside another file")
    for magic, kind in OWN_SUBJECT_MAGICS.items():
        if data.startswith(magic):
            raise ValueError(f"{name}: {kind}, which Windows hashes by its own subject; pack it inside another file")


def build_architecture(source, target, client_folder, product, options, breaks):
    """Copies, signs and catalogs one architecture's files into `target`."""
    os.makedirs(target, exist_ok=True)
    names = []
    for folder, _, files in os.walk(source):
        for name in sorted(files):
            full = os.path.join(folder, name)
            names.append(os.path.relpath(full, source).replace(os.sep, "/"))
    names.sort()
    members, entries = [], []
    for name in names:
        destination = os.path.join(target, *name.split("/"))
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copyfile(os.path.join(source, *name.split("/")), destination)
        with open(destination, "rb") as f:
            data = f.read()
        refuse_own_subject(name, data)
        pe = authenticode.is_pe(data)
        if pe and ("unsigned-pe:" + name) not in breaks:
            sign_file(destination, options["cert"], options["key"])
            with open(destination, "rb") as f:
                data = f.read()
        digest = authenticode.file_digest(data)
        algorithm = "sha256"
        if ("sha1-member:" + name) in breaks:
            import hashlib
            digest, algorithm = hashlib.sha1(data).digest(), "sha1"
        if ("wrong-digest:" + name) in breaks:
            digest = bytes(b ^ 0xFF for b in digest)
        members.append(catalog.Member(client_folder + "\\" + name.replace("/", "\\"), digest, pe, algorithm,
                                      tag_terminator="tags-without-nul" not in breaks,
                                      has_file_name=("no-file-name:" + name) not in breaks))
        entry = {"name": name, "md5": __import__("hashlib").md5(data).hexdigest(), "size": len(data)}
        entry.update(product.get("files", {}).get(name, {}))
        if ("missing-size:" + name) in breaks:
            entry.pop("size", None)
        entries.append(entry)
        if ("tamper-file:" + name) in breaks:
            # The same size with other bytes at the end: only the catalog can tell.
            with open(destination, "r+b") as f:
                f.seek(max(0, len(data) - 8))
                f.write(b"tampered"[:len(data)])
    if "dotdot-name" in breaks:
        entries.append({"name": "sub/../../evil.txt", "size": 1})

    unsigned = os.path.join(target, "kit.unsigned.cat")
    with open(unsigned, "wb") as f:
        f.write(catalog.build_unsigned_catalog(members))
    cat = os.path.join(target, "kit.cat")
    if "unsigned-catalog" in breaks:
        os.replace(unsigned, cat)
    else:
        os.replace(unsigned, cat)
        sign_file(cat, options.get("catalog_cert") or options["cert"], options.get("catalog_key") or options["key"])
    if "catalog-altered" in breaks:
        alter_signed_content(cat)
    with open(os.path.join(target, "data.xml"), "w", encoding="utf-8") as f:
        f.write(data_xml(product, entries))
    return {"files": names, "entries": entries}


def alter_signed_content(path):
    """Flips one byte inside the first member's tag: the signature no longer covers the content."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    marker = "File".encode("utf-16-be")
    at = data.find(marker)
    if at < 0:
        raise KitError("no member to alter in " + path)
    # The member tag (UTF-16 hex digest) precedes its attributes: change a hex digit there.
    tag_at = data.rfind(b"\x04", 0, at)
    data[tag_at + 4] ^= 0x01
    with open(path, "wb") as f:
        f.write(bytes(data))


def build_kit(product, out, base_url, cert, key, files_win32=None, files_x64=None,
              kit_folder="kits/1.0.0", version="1.0.0", catalog_cert=None, catalog_key=None,
              breaks=(), latest_text=None):
    """Writes the whole server tree; returns a description of what was built."""
    options = {"cert": cert, "key": key, "catalog_cert": catalog_cert, "catalog_key": catalog_key}
    breaks = set(breaks)
    os.makedirs(out, exist_ok=True)
    config = dict(product.get("config", {}))
    config.setdefault("downloadUrl", base_url)
    with open(os.path.join(out, "installer.xml"), "w", encoding="utf-8") as f:
        f.write(config_xml(config))
    with open(os.path.join(out, "latest.dat"), "w", encoding="utf-8") as f:
        f.write(latest_text if latest_text is not None else "%s %s\n" % (version, kit_folder))
    built = {"tree": out, "kit_folder": kit_folder, "architectures": {}}
    for server_folder, source in (("win32", files_win32), ("x64", files_x64)):
        if source:
            target = os.path.join(out, *kit_folder.split("/"), server_folder)
            built["architectures"][server_folder] = build_architecture(
                source, target, ARCHITECTURES[server_folder], product, options, breaks)
    return built


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    build = commands.add_parser("build", help="write a kit tree")
    build.add_argument("--product", required=True, help="product description (JSON)")
    build.add_argument("--files-win32")
    build.add_argument("--files-x64")
    build.add_argument("--out", required=True)
    build.add_argument("--base-url", required=True, help="where installer.xml will be served")
    build.add_argument("--cert", required=True, help="signing certificate chain (PEM)")
    build.add_argument("--key", required=True)
    build.add_argument("--catalog-cert")
    build.add_argument("--catalog-key")
    build.add_argument("--kit-folder", default="kits/1.0.0")
    build.add_argument("--version", default="1.0.0")
    build.add_argument("--break", dest="breaks", action="append", default=[])
    encode = commands.add_parser("encode-url", help="encode a base URL for sourceUrlEnc or a file name")
    encode.add_argument("url")
    encrypt = commands.add_parser("encrypt-proxy-pass", help="encrypt a proxy password for installer.xml")
    encrypt.add_argument("password")
    args = parser.parse_args(argv)

    if args.command == "encode-url":
        print(codec.encode_url(args.url))
        return 0
    if args.command == "encrypt-proxy-pass":
        print(codec.encrypt_proxy_password(args.password))
        return 0
    if not args.files_win32 and not args.files_x64:
        parser.error("give --files-win32 and/or --files-x64")
    with open(args.product, encoding="utf-8") as f:
        product = json.load(f)
    try:
        built = build_kit(product, args.out, args.base_url, args.cert, args.key, args.files_win32,
                          args.files_x64, args.kit_folder, args.version, args.catalog_cert,
                          args.catalog_key, args.breaks)
    except KitError as error:
        print("kittool: %s" % error, file=sys.stderr)
        return 1
    print(json.dumps(built, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
