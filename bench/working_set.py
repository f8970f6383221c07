"""What a Wine process's resident memory is made of, sampled from the Linux side while it runs.

Wine reports a process's working set from the kernel's figures for it, so /proc/<pid>/smaps
is the same memory seen mapping by mapping. A Windows image whose sections are not page
aligned (ours: the linker's 512-byte file alignment) is copied into anonymous memory rather than
mapped from its file, so only its header page carries the file's name: the image's extent is read
from those headers through /proc/<pid>/mem, and its anonymous pages are counted as its own.
"""
import collections
import os
import struct
import threading
import time


def _read(mem, address, size):
    try:
        mem.seek(address)
        return mem.read(size)
    except (OSError, ValueError, OverflowError):
        return b""


def _image_size(mem, base):
    """SizeOfImage of a PE image whose headers are at `base`, else None."""
    dos = _read(mem, base, 64)
    if len(dos) < 64 or dos[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", dos, 60)[0]
    head = _read(mem, base + pe, 24 + 240)
    if len(head) < 24 + 96 or head[:4] != b"PE\0\0":
        return None
    return struct.unpack_from("<I", head, 24 + 56)[0]


def breakdown(pid):
    """KiB resident per module (image, file or kind of anonymous memory) of process `pid`."""
    regions = []
    with open("/proc/%d/smaps" % pid) as smaps:
        for line in smaps:
            fields = line.split()
            if not fields:
                continue
            if "-" in fields[0] and not fields[0].endswith(":"):
                start, end = (int(x, 16) for x in fields[0].split("-"))
                path = fields[5] if len(fields) > 5 else ""
                regions.append([start, end, path, 0, int(fields[2], 16)])
            elif fields[0] == "Rss:" and regions:
                regions[-1][3] = int(fields[1])
    images = []
    try:
        with open("/proc/%d/mem" % pid, "rb", buffering=0) as mem:
            for start, _, path, _, offset in regions:
                if offset == 0 and path.lower().endswith((".exe", ".dll")):
                    size = _image_size(mem, start)
                    if size:
                        images.append((start, start + size, os.path.basename(path)))
    except OSError:
        pass
    totals = collections.Counter()
    for start, _, path, rss, _ in regions:
        if path and not path.startswith("["):
            name = os.path.basename(path)
        else:
            image = next((n for b, e, n in images if b <= start < e), None)
            name = image + " (copied image)" if image else path or "anonymous (heaps, stacks)"
        totals[name] += rss
    return totals


class PeakSampler:
    """Samples every process whose command line names `program` until stopped; keeps, per
    process, the breakdown at its highest resident total."""

    def __init__(self, program, interval=0.05):
        self.program = program.encode()
        self.interval = interval
        self.peaks = {}  # pid -> (total KiB, breakdown)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _pids(self):
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/cmdline" % entry, "rb") as f:
                        if self.program in f.read().split(b"\0")[0]:
                            yield int(entry)
                except OSError:
                    continue

    def _run(self):
        while not self._stop.is_set():
            for pid in self._pids():
                try:
                    totals = breakdown(pid)
                except OSError:
                    continue  # the process ended between listing and reading
                total = sum(totals.values())
                if total > self.peaks.get(pid, (0, None))[0]:
                    self.peaks[pid] = (total, totals)
            time.sleep(self.interval)

    def highest(self):
        """(total KiB, breakdown) of the process that peaked highest, or (0, empty)."""
        return max(self.peaks.values(), key=lambda p: p[0], default=(0, collections.Counter()))


GROUPS = (("copied images (ours)", lambda n: n.endswith("(copied image)")),
          ("anonymous: heaps, stacks", lambda n: n.startswith("anonymous") or n in ("[heap]", "[stack]")),
          ("Linux libraries and Wine's unix side", lambda n: ".so" in n),
          ("Wine's Windows DLLs", lambda n: n.lower().endswith((".dll", ".drv", ".exe", ".sys"))),
          ("fonts, NLS tables, themes, other files", lambda n: True))


def report(total, totals, top=12):
    """Lines that say what a peak is made of: by group, then the largest modules."""
    lines = ["peak resident %.1f MiB, by group:" % (total / 1024.0)]
    grouped = collections.Counter()
    for name, kib in totals.items():
        grouped[next(g for g, test in GROUPS if test(name))] += kib
    for group, kib in grouped.most_common():
        lines.append("  %-40s %6.1f MiB" % (group, kib / 1024.0))
    lines.append("largest modules:")
    for name, kib in totals.most_common(top):
        lines.append("  %-40s %6.1f MiB" % (name, kib / 1024.0))
    return lines
