"""The build tree of the flavour under test, for the Python tests and the demo.

CTest hands every Python test PALISK_FLAVOUR and PALISK_BUILD; run by hand, a script takes the
flavour this machine runs by default: i686 (the product) where 32-bit code runs, else x64."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def runs_32bit() -> bool:
    """True when 32-bit Linux executables (and so Wine's 32-bit loader) start here."""
    try:
        return subprocess.run(["/lib/ld-linux.so.2", "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


FLAVOUR = os.environ.get("PALISK_FLAVOUR") or ("i686" if runs_32bit() else "x64")
BUILD = os.environ.get("PALISK_BUILD") or os.path.join(ROOT, "build", FLAVOUR)
