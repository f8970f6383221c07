#!/usr/bin/env python3
"""Benchmarks of the whole road, each a ratio against a bare baseline measured in the same run:

  catalog hashing   the program's own verifier on a SIZE MiB kit file vs sha256sum of it (goal >= 0.8)
  per-file overhead a 200-file kit of 4 KiB files through the full download-and-verify path vs
                    bare GETs of the same files over one keep-alive connection (goal <= 5 ms a file)
  whole road        a silent run through the agent double that downloads, verifies and installs a
                    SIZE MiB kit vs a bare download of the same bytes plus a bare hash (goal <= 1.2x),
                    with the time of each phase from the run log
  peak working set  of palisk during the whole road (goal <= 32 MiB), with what it is made of
                    module by module at the highest peak (from the Linux side, see working_set.py)

    [PALISK_FLAVOUR=i686|x64] bench/run-road-bench.py [--size-mib 256] [--runs 3] [--form release|test]

The form that runs is the release one (build/<flavour>/release, scripts/release.sh) unless
--form test asks for the test build's dist: its unstripped modules carry their debug information,
which the loader reads into memory with the rest of each image.

Medians of the runs, with min and max. Benchmarks are never part of make test."""
import argparse
import datetime
import hashlib
import json
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "scenario"))
from scenario import BUILD, DIST, FLAVOUR, Scenario, wine, windows_path  # noqa: E402
import working_set  # noqa: E402

BENCH = os.path.join(BUILD, "bench")


def spread(values):
    return "median %.3f (min %.3f, max %.3f)" % (statistics.median(values), min(values), max(values))


def parse_time(text):
    return datetime.datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%fZ")


def message_time(log, test):
    for record in log:
        if record.get("kind") == "message" and test(record["message"]):
            return parse_time(record["time"])
    return None


def phases(log):
    """Seconds of each phase of one run, from its binary event log."""
    start, end = parse_time(log[0]["time"]), parse_time(log[-1]["time"])
    marks = {
        "descriptors": message_time(log, lambda m: m.startswith("SetData: config url")),
        "files": message_time(log, lambda m: m.startswith('Downloading file "') and "\\x64\\" in m),
        "downloaded": message_time(log, lambda m: m.startswith("DownloadFiles exit code")),
        "installer": message_time(log, lambda m: m.startswith("[PALISK] Running:")),
        "installed": message_time(log, lambda m: m.startswith("[PALISK] exit code setup.exe")),
    }
    if None in marks.values():
        raise RuntimeError("the run log lacks a phase marker: %s" % marks)
    order = [("start-up", start, marks["descriptors"]), ("descriptors and checks", marks["descriptors"], marks["files"]),
             ("kit files: download and verify", marks["files"], marks["downloaded"]),
             ("installer launch", marks["downloaded"], marks["installer"]),
             ("installer", marks["installer"], marks["installed"]), ("hand-off and clean-up", marks["installed"], end)]
    result = {name: (b - a).total_seconds() for name, a, b in order}
    result["total"] = (end - start).total_seconds()
    return result


def bench_json(*args):
    completed = wine(*args, timeout=900)
    line = completed.stdout.decode("utf-8", "replace").strip().splitlines()[-1]
    return json.loads(line)


def timed(command):
    started = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def silent_run(s):
    r = s.run(agent_args="/ovparams silent taskId=bench sourceUrlEnc=" + s.encoded_url(), timeout=900)
    # The installer double's record grows by one run each time.
    if r.exit_code != 0 or not r.installer_runs:
        raise RuntimeError("the silent run failed: exit code %s\n%s" % (r.exit_code, "\n".join(r.messages()[-20:])))
    return r


def big_kit(size_mib, runs, dist):
    print("== catalog hashing and the whole road, a %d MiB kit file" % size_mib)
    with Scenario("bench-road", dist=dist) as s:
        payload = os.urandom(size_mib << 20)
        s.build_kit(files={"payload.bin": payload}, architectures=("x64",))
        kit = os.path.join(s.kit, "kits", "1.0.0", "x64")
        # The verifier finds members below the catalog's folder, as in the working folder.
        stage = os.path.join(s.folder, "stage")
        os.makedirs(os.path.join(stage, "x64"))
        os.link(os.path.join(kit, "kit.cat"), os.path.join(stage, "kit.cat"))
        os.link(os.path.join(kit, "payload.bin"), os.path.join(stage, "x64", "payload.bin"))
        verify, sha = [], []
        for _ in range(runs):
            row = bench_json(os.path.join(BENCH, "road_bench.exe"), "verify", windows_path(os.path.join(stage, "kit.cat")),
                             windows_path(os.path.join(stage, "x64", "payload.bin")))
            if row["valid"] != 1:
                raise RuntimeError("the verifier refused the benchmark's own kit: %s" % row)
            verify.append(row["seconds"])
            sha.append(timed(["sha256sum", os.path.join(kit, "payload.bin")]))
        print("verifier           %s s" % spread(verify))
        print("sha256sum          %s s" % spread(sha))
        print("hashing ratio      %.2f (sha256sum time / verifier time, goal >= 0.8)"
              % (statistics.median(sha) / statistics.median(verify)))

        bare = []
        out = os.path.join(s.folder, "bare.bin")
        for _ in range(runs):
            row = bench_json(os.path.join(BENCH, "http_download_bench.exe"), "winhttp",
                             s.base_url() + "kits/1.0.0/x64/payload.bin", windows_path(out))
            bare.append(row["seconds"])
        os.remove(out)
        behind, after = [], []
        for _ in range(runs):
            row = bench_json(os.path.join(BENCH, "road_bench.exe"), "kit-file", s.base_url() + "kits/1.0.0/x64/kit.cat",
                             s.base_url() + "kits/1.0.0/x64/payload.bin", windows_path(os.path.join(s.folder, "kitfile")))
            if row["valid"] != 1:
                raise RuntimeError("the downloader refused the benchmark's own kit: %s" % row)
            behind.append(row["behind"])
            after.append(row["after"])
        roads, peaks, phase_rows = [], [], []
        highest = (0, None)
        for _ in range(runs):
            with working_set.PeakSampler("palisk.exe") as sampler:
                r = silent_run(s)
            highest = max(highest, sampler.highest(), key=lambda p: p[0])
            row = phases(r.log)
            phase_rows.append(row)
            roads.append(row["total"])
            # Wine now and then answers the agent's GetProcessMemoryInfo with zeros: not a figure.
            if r.peak_working_set:
                peaks.append(r.peak_working_set / 1048576.0)
        baseline = statistics.median(bare) + statistics.median(sha)
        print("bare download      %s s" % spread(bare))
        print("kit file, hashed behind the writer %s s" % spread(behind))
        print("kit file, hashed after it landed   %s s" % spread(after))
        print("whole road         %s s (palisk's run, from its log)" % spread(roads))
        for name in phase_rows[0]:
            if name != "total":
                print("  %-32s %s s" % (name, spread([row[name] for row in phase_rows])))
        print("road ratio         %.2f (road / (bare download + sha256sum), goal <= 1.2)"
              % (statistics.median(roads) / baseline))
        print("peak working set   %s MiB (goal <= 32; %d of %d runs measured)" % (spread(peaks) if peaks else "n/a",
                                                                             len(peaks), runs))
        if highest[1]:
            print("\n".join(working_set.report(*highest)))


def many_files(runs, dist, count=200):
    print("== per-file overhead, %d files of 4 KiB" % count)
    with Scenario("bench-files", dist=dist) as s:
        s.build_kit(files={"f/%03d.bin" % i: os.urandom(4096) for i in range(count)}, architectures=("x64",))
        folder = os.path.join(s.folder, "bare")
        os.makedirs(folder)
        bare, walks = [], []
        for _ in range(runs):
            row = bench_json(os.path.join(BENCH, "road_bench.exe"), "bare-many", s.base_url() + "kits/1.0.0/x64/f/",
                             str(count), windows_path(folder))
            if row["failures"]:
                raise RuntimeError("bare requests failed: %s" % row)
            bare.append(row["seconds"])
            walks.append(phases(silent_run(s).log)["kit files: download and verify"])
        print("bare GETs          %s s" % spread(bare))
        print("download and verify %s s (%d kit files and the installer)" % (spread(walks), count))
        overhead = (statistics.median(walks) - statistics.median(bare)) / count * 1000.0
        print("per-file overhead  %.2f ms a file over the bare request (goal <= 5)" % overhead)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--form", choices=("release", "test"), default="release")
    args = parser.parse_args()
    dist = os.path.join(BUILD, "release") if args.form == "release" else DIST
    if not os.path.exists(os.path.join(dist, "palisk.exe")):
        print("no %s form in %s: scripts/release.sh %s builds it" % (args.form, dist, FLAVOUR))
        return 2
    print("flavour %s, %s form (%s); %s" % (FLAVOUR, args.form, dist, " ".join(os.uname()[0:3:2])))
    many_files(args.runs, dist)
    big_kit(args.size_mib, args.runs, dist)
    return 0


if __name__ == "__main__":
    sys.exit(main())
