#!/usr/bin/env python3
"""make demo: a real end-to-end install from a local kit server, the way a management agent
runs Palisk, with everything that happened printed. Exits 0 only when the installer ran and its
exit code came back (process exit code and registry value)."""
import datetime
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "scenario"))
from scenario import Scenario, wine  # noqa: E402

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
        section("Verdict")
        print("the installer ran and its exit code came back" if ok else "FAILED: the installer's exit code did not come back")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
