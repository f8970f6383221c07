#!/usr/bin/env python3
"""make demo: a real end-to-end install from a local kit server, the way a management agent
runs Palisk, with everything that happened printed. Exits 0 only when the installer ran and its
exit code came back (process exit code and registry value)."""
import datetime
import os
import struct
import sys
import threading
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "scenario"))
from scenario import BUILD, TEST_BIN, Scenario, windows_path, wine  # noqa: E402

RESULT_KEY = "HKU\\.DEFAULT\\Software\\Vudidavi"
INSTALLER_EXIT = 3010  # "success, restart required": a code worth seeing come back


def section(title):
    print("\n== %s %s" % (title, "=" * max(0, 70 - len(title))))


def parse_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%fZ")


def first_time(log, needle):
    for record in log:
        if record.get("kind") == "message" and needle in record["message"]:
            return parse_time(record["time"])
    return None


def ppm_to_png(source, target):
    """The user double's screenshots (binary PPM) as PNG files, written with zlib only."""
    with open(source, "rb") as f:
        data = f.read()
    magic, width, height, maximum, pixels = data.split(maxsplit=4)
    assert magic == b"P6" and maximum == b"255"
    width, height = int(width), int(height)
    stride = width * 3
    raw = b"".join(b"\0" + pixels[row * stride:(row + 1) * stride] for row in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(target, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def visible_run(name, rules, files, steps):
    """A visible run with the user double in front of it; returns (run, user output, screenshots)."""
    with Scenario(name) as s:
        s.serve(rules=rules)
        s.build_kit(files=files)
        outcome = {}
        args = "/ovparams taskId=demo-task-2 sourceUrlEnc=" + s.encoded_url()
        runner = threading.Thread(target=lambda: outcome.update(run=s.run(agent_args=args)))
        runner.start()
        user = wine(windows_path(os.path.join(TEST_BIN, "gui_user.exe")), "--timeout", "60", "--shots",
                    windows_path(s.records), *steps, timeout=180)
        runner.join(180)
        shots = []
        folder = os.path.join(BUILD, "demo-screenshots")
        os.makedirs(folder, exist_ok=True)
        for entry in sorted(os.listdir(s.records)):
            if entry.endswith(".ppm"):
                target = os.path.join(folder, entry[:-4] + ".png")
                ppm_to_png(os.path.join(s.records, entry), target)
                shots.append(target)
        return outcome.get("run"), user.stdout.decode("utf-8", "replace"), shots


def visible_section():
    """The progress screen (at 100 % and 150 %), the quit question (answered No) and an error popup,
    photographed."""
    section("Visible run (under Xvfb): progress screen and popups")
    parts = {"part%d.bin" % i: bytes([i]) * (512 * 1024) for i in range(1, 4)}
    r, user, shots = visible_run("demo-visible", [{"path": r"/part\d\.bin$", "delay": 1.0}], parts,
                                 ["wait:700", "shot:progress-screen", "cancel", "popupshot:quit-question", "no",
                                  "gone"])
    print(user.rstrip())
    print("process exit code %s (the quit question was answered No: the install went on)" % (r.exit_code if r else "?"))
    r2, user2, shots2 = visible_run("demo-error", [{"path": "Installer.exe$", "status": 404}], None,
                                    ["errorpopup:download-error-popup"])
    print(user2.rstrip())
    print("process exit code %s (Installer.exe answered 404: the download error popup)" % (r2.exit_code if r2 else "?"))
    # The same screen at 150 %: Wine reads the DPI of each new process from LogPixels.
    desktop = "HKCU\\Control Panel\\Desktop"
    wine("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
    try:
        r3, user3, shots3 = visible_run("demo-150", [{"path": r"/part\d\.bin$", "delay": 1.0}], parts,
                                        ["wait:700", "shot:progress-screen-150", "gone"])
    finally:
        wine("reg", "add", desktop, "/v", "LogPixels", "/t", "REG_DWORD", "/d", "96", "/f")
    print(user3.rstrip())
    print("process exit code %s (the progress screen at 150 %%)" % (r3.exit_code if r3 else "?"))
    print("screenshots:")
    for shot in shots + shots2 + shots3:
        print("  %s" % shot)
    return bool(r and r.exit_code == 0 and len(shots) == 2 and r2 and r2.exit_code == 100404 and len(shots2) == 1
                and r3 and r3.exit_code == 0 and len(shots3) == 1)


def main():
    with Scenario("demo") as s:
        section("Kit")
        s.serve()
        built = s.build_kit(installer_exit=INSTALLER_EXIT)
        print("kit server        %s (HTTP), HTTPS on port %d" % (s.base_url(), s.servers.ports["https"]))
        for architecture, kit in sorted(built["architectures"].items()):
            print("kit %-6s        %s" % (architecture, ", ".join(kit["files"])))
        print("signed by         the test publisher (CN=O=Orvane SRL), catalog kit.cat per architecture")

        wine("reg", "add", RESULT_KEY, "/f")
        agent_args = "/ovparams silent taskId=demo-task-1 sourceUrlEnc=" + s.encoded_url()
        section("Run")
        print("agent command     test_agent.exe --run palisk.exe " + agent_args)
        started = time.time()
        r = s.run(agent_args=agent_args)
        total = time.time() - started
        registry = r.registry
        wine("reg", "delete", RESULT_KEY, "/f")

        section("Requests received by the kit server")
        for request in r.requests:
            query = ("?" + request["query"]) if request.get("query") else ""
            print("%-4s %s%s" % (request["method"], request["path"], query))
        section("Reports received by the management server")
        for request in r.requests:
            if request["path"].startswith("/mgmt/install/"):
                print("install link  GET  %s" % request["path"])
            elif request["path"].startswith("/mgmt/status"):
                print("status link   POST json=%s" % request["form"].get("json"))
        section("Installer")
        for run in r.installer_runs:
            print("command line      %s" % run["commandLine"])
            print("working folder    %s" % run["folder"])
            print("exit code         %d" % run["exitCode"])
        section("Result")
        print("process exit code %s" % r.exit_code)
        print("registry          %s dwErrCode = %s" % (RESULT_KEY, registry.get("value")))
        print("left in %%TEMP%%    %s" % (r.temp_left or "nothing"))
        section("Run log (decoded binary event log)")
        for record in r.log:
            if record.get("kind") == "message":
                print("%s %-6s %s:%d %s" % (record["time"][11:23], ["ERROR", "WARN", "NOTICE", "INFO"][record["level"]]
                                            if record["level"] < 4 else record["level"], record["source"],
                                            record["line"], record["message"]))
            else:
                print("%s %s %s" % (record["time"][11:23], record["kind"], record.get("fields", "")))
        section("Timings")
        start = parse_time(r.log[0]["time"]) if r.log else None
        download_start = first_time(r.log, "SetData: config url")
        files_done = first_time(r.log, "DownloadFiles exit code")
        installer_start = first_time(r.log, "[PALISK] Running:")
        installer_end = first_time(r.log, "[PALISK] exit code setup.exe")
        catalog = [parse_time(x["time"]) for x in r.log if x.get("kind") == "message" and "Checking file" in x["message"]]
        print("total (agent start to agent exit)   %.2f s" % total)
        if start and download_start and files_done:
            print("descriptors and downloads           %.2f s" % (files_done - download_start).total_seconds())
        if installer_start and installer_end:
            print("installer                           %.2f s" % (installer_end - installer_start).total_seconds())
        print("files verified                      %d" % len(catalog))

        ok = (len(r.installer_runs) == 1 and r.exit_code == INSTALLER_EXIT and registry.get("value") == INSTALLER_EXIT)
    shown = visible_section()
    section("Verdict")
    print("the installer ran and its exit code came back" if ok else "FAILED: the installer's exit code did not come back")
    print("the visible runs showed the progress screen and the popups" if shown
          else "FAILED: the visible runs did not show what they should")
    return 0 if ok and shown else 1


if __name__ == "__main__":
    sys.exit(main())
