#!/usr/bin/env python3
"""Starts or stops the shared test kit server for Windows-side tests (a CTest fixture).

    server_fixture.py start <folder>   serves <folder>/www; writes <folder>/ports.json
    server_fixture.py stop <folder>

The server has HTTP, HTTPS, a forward proxy with Basic auth "user:secret" and a proxy that
refuses every connection. <folder>/www holds small.txt and big.bin (1 MiB), and kits built
for the server's own address (see KITS); <folder>/kits.json gives each kit's base URL."""
import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from build_tree import BUILD  # noqa: E402


sys.path.insert(0, os.path.join(ROOT, "tools", "kit"))

# name: (breaks, latest.dat text or None, kit folder)
KITS = {
    "basic": ((), None, "kits/1.0.0"),
    "dotdot": (("dotdot-name",), None, "kits/1.0.0"),
    "nosize": (("missing-size:readme.txt",), None, "kits/1.0.0"),
    "tampered": (("tamper-file:readme.txt",), None, "kits/1.0.0"),
    "onetoken": ((), "1.0.0\n", "."),
    # A latest.dat far beyond any real one: refused, and the kit is looked for below the link.
    "biglatest": ((), "1.0.0 " + "x" * 70000 + "\n", "."),
    # A replayed kit whose latest.dat tries to close the installer's quoted argument.
    "hostile": ((), '1.0.0 kits/1.0.0"\t/silent\n', 'kits/1.0.0"\t/silent'),
}


def build_kits(www, http_port):
    import kittool
    pki = os.path.join(BUILD, "pki")
    source = os.path.join(www, "..", "kit-source")
    os.makedirs(os.path.join(source, "sub"), exist_ok=True)
    with open(os.path.join(BUILD, "tests", "bin", "test_installer.exe"), "rb") as f:
        installer = f.read()
    files = {"Installer.exe": installer, "readme.txt": b"Orvane Endpoint Security\r\n",
             "sub/data.bin": bytes(range(256)) * 8, "optional.txt": b"required spelled False\r\n",
             "skipped.txt": b"not required\r\n"}
    for name, data in files.items():
        with open(os.path.join(source, *name.split("/")), "wb") as f:
            f.write(data)
    product = {"manufacturer": "Orvane", "productname": "Orvane Endpoint Security",
               "UpgradeCode": "{6F1D2C3B-4A5E-4F60-8172-93A4B5C6D7E8}", "minspaceavailabe": 1, "retry_fail": 2,
               "run_command": {"proc": "Setup.exe", "params": "/ignored"},
               "files": {"optional.txt": {"required": "False"}, "skipped.txt": {"required": "0"}}}
    urls = {}
    for name, (breaks, latest, kit_folder) in KITS.items():
        base = "http://127.0.0.1:%d/%s/" % (http_port, name)
        kittool.build_kit(product, os.path.join(www, name), base, os.path.join(pki, "publisher.chain.pem"),
                          os.path.join(pki, "publisher.key"), files_win32=source, files_x64=source,
                          kit_folder=kit_folder, breaks=breaks, latest_text=latest)
        urls[name] = base
    return urls


def start(folder):
    stop(folder)
    www = os.path.join(folder, "www")
    os.makedirs(www, exist_ok=True)
    with open(os.path.join(www, "small.txt"), "wb") as f:
        f.write(b"small file from the kit server\n")
    with open(os.path.join(www, "big.bin"), "wb") as f:
        f.write(bytes(range(256)) * 4096)
    ready = os.path.join(folder, "ports.json")
    if os.path.exists(ready):
        os.remove(ready)
    log = open(os.path.join(folder, "server.log"), "w")
    process = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tools", "kit", "kitserver.py"), "--root", www, "--ready-file", ready,
         "--cert-folder", os.path.join(BUILD, "pki", "tls"), "--proxy", "--proxy-auth", "user:secret", "--bad-proxy"],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(folder, "server.pid"), "w") as f:
        f.write(str(process.pid))
    for _ in range(200):
        if os.path.exists(ready):
            ports = json.load(open(ready))
            with open(os.path.join(folder, "kits.json"), "w") as f:
                json.dump(build_kits(www, ports["http"]), f)
            print(ports)
            return 0
        if process.poll() is not None:
            break
        time.sleep(0.05)
    print("the kit server did not start; see server.log", file=sys.stderr)
    return 1


def stop(folder):
    pid_file = os.path.join(folder, "server.pid")
    if os.path.exists(pid_file):
        try:
            os.killpg(int(open(pid_file).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.remove(pid_file)
    return 0


if __name__ == "__main__":
    command, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    sys.exit(start(folder) if command == "start" else stop(folder))
