#!/usr/bin/env python3
"""Starts or stops the shared test kit server for Windows-side tests (a CTest fixture).

    server_fixture.py start <folder>   serves <folder>/www; writes <folder>/ports.json
    server_fixture.py stop <folder>

The server has HTTP, HTTPS, a forward proxy with Basic auth "user:secret" and a proxy that
refuses every connection. <folder>/www holds small.txt and big.bin (1 MiB)."""
import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("PALISK_BUILD", os.path.join(ROOT, "build"))


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
            print(json.load(open(ready)))
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
