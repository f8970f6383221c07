#!/usr/bin/env python3
"""The release form's sizes: each shipped module of build/<flavour>/release against its goal,
and what its bytes are made of, from the link map that the release tree writes per module
(sections kept after --gc-sections, summed per object file; debug sections left out).

    bench/release-sizes.py [--top N] [flavour...]      (default: i686)
"""
import argparse
import collections
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Module -> (its link map in the release tree, size goal in KiB for the stripped i686 form).
MODULES = {
    "palisk.exe": ("src/installer/palisk/palisk.map", 512),
    "Glossel.dll": ("src/glossel/Glossel.map", 256),
    "log.dll": ("src/outside/logdll/log.map", 128),
    "hypra.dll": ("src/outside/hypra/hypra.map", 128),
    "sciter.dll": ("src/outside/sciter/sciter.map", None),
}
KEPT = re.compile(r"^ (\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")


def members(map_path):
    """Bytes per input file (archive(member) or object) that the link kept."""
    sizes = collections.Counter()
    started = False
    pending = None
    with open(map_path, errors="replace") as f:
        for line in f:
            if line.startswith("Linker script and memory map"):
                started = True
                continue
            if not started:
                continue
            alone = re.match(r"^ (\.\S+)\s*$", line)
            if alone:
                pending = alone.group(1)
                continue
            kept = KEPT.match(line)
            if not kept:
                continue
            section = kept.group(1) or pending
            pending = None
            size = int(kept.group(2), 16)
            if section is None or section.startswith((".debug", ".stab")) or size == 0:
                continue
            sizes[os.path.basename(kept.group(3).strip())] += size
    return sizes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--top", type=int, default=12)
    parser.add_argument("flavours", nargs="*", default=["i686"])
    args = parser.parse_args()
    for flavour in args.flavours:
        release = os.path.join(ROOT, "build", flavour, "release")
        tree = os.path.join(ROOT, "build", flavour + "-release")
        print("%s (build/%s/release)" % (flavour, flavour))
        for module, (map_name, goal) in MODULES.items():
            path = os.path.join(release, module)
            if not os.path.exists(path):
                print("  %-12s missing: run scripts/release.sh %s" % (module, flavour))
                continue
            size = os.path.getsize(path)
            verdict = ""
            if goal and flavour == "i686":
                verdict = "  goal <= %d KiB: %s" % (goal, "met" if size <= goal * 1024 else "missed")
            print("  %-12s %8d bytes %7.1f KiB%s" % (module, size, size / 1024, verdict))
            map_path = os.path.join(tree, map_name)
            if os.path.exists(map_path):
                for name, bytes_ in members(map_path).most_common(args.top):
                    print("      %8d  %s" % (bytes_, name))


if __name__ == "__main__":
    main()
