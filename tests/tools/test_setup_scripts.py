"""Set-up's apt handling and flavour decision, run against a fake apt-get (Linux side)."""
import os
import shutil
import stat
import subprocess
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCRIPTS = os.path.join(ROOT, "scripts")

BAD_INDEX = "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"


class FakeAptGet:
    """A stand-in for apt-get: `update` fails one index the way a syncing mirror does (exit 100),
    `install` exits with the code given; every call is appended to a journal."""

    def __init__(self, folder, failing_updates, install_exit=0):
        self.journal = os.path.join(folder, "journal")
        self.path = os.path.join(folder, "apt-get")
        with open(self.path, "w") as script:
            script.write(textwrap.dedent(f"""\
                #!/bin/bash
                echo "$*" >>{self.journal}
                if [ "$1" = update ]; then
                  done=$(grep -c '^update' {self.journal})
                  if [ "$done" -le {failing_updates} ]; then
                    echo "E: Failed to fetch {BAD_INDEX}  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]" >&2
                    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
                    exit 100
                  fi
                  exit 0
                fi
                exit {install_exit}
                """))
        os.chmod(self.path, os.stat(self.path).st_mode | stat.S_IXUSR)

    def calls(self):
        if not os.path.exists(self.journal):
            return []
        with open(self.journal) as journal:
            return [line.split()[0] for line in journal]


def run_apt_install(fake, *packages):
    script = f'SUDO=""; source "{SCRIPTS}/apt.sh"; apt_install "$@"'
    env = dict(os.environ, APT_GET=fake.path, APT_RETRIES="3", APT_PAUSE="0")
    return subprocess.run(["bash", "-c", script, "apt", *packages], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


class AptRetries(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def test_an_index_that_heals_on_a_retry_leaves_nothing_to_report(self):
        fake = FakeAptGet(self.folder, failing_updates=1)
        result = run_apt_install(fake, "wine")
        self.assertEqual(0, result.returncode, result.stdout)
        self.assertEqual(["update", "update", "install"], fake.calls())
        self.assertNotIn("going on without", result.stdout)

    def test_a_lasting_index_failure_still_installs(self):
        fake = FakeAptGet(self.folder, failing_updates=99)
        result = run_apt_install(fake, "wine")
        self.assertEqual(0, result.returncode, result.stdout)
        self.assertEqual(["update", "update", "update", "install"], fake.calls())
        self.assertIn("going on without 1 index(es)", result.stdout)

    def test_an_install_that_fails_after_a_missing_index_says_which_and_why(self):
        fake = FakeAptGet(self.folder, failing_updates=99, install_exit=100)
        result = run_apt_install(fake, "wine32:i386")
        self.assertNotEqual(0, result.returncode)
        reason = [line for line in result.stdout.splitlines() if "apt-get install failed" in line]
        self.assertEqual(1, len(reason), result.stdout)
        self.assertIn(BAD_INDEX, reason[0])
        self.assertIn("middle of a sync", reason[0])
        self.assertIn("held broken packages", reason[0])

    def test_an_install_failure_with_every_index_fetched_names_no_index(self):
        fake = FakeAptGet(self.folder, failing_updates=0, install_exit=100)
        result = run_apt_install(fake, "nosuchpackage")
        self.assertNotEqual(0, result.returncode)
        self.assertIn("apt-get install failed (see its output above)", result.stdout)
        self.assertNotIn("index", result.stdout)


class FlavourDecision(unittest.TestCase):
    def flavours(self, expression, **env):
        return subprocess.run(["bash", "-c", f'source "{SCRIPTS}/flavours.sh"; {expression}'],
                              env=dict(os.environ, **env), stdout=subprocess.PIPE, text=True).stdout.strip()

    def test_the_kernel_is_asked_whatever_is_installed(self):
        # The probe needs no 32-bit C library: its answer matches what the kernel does with any
        # i386 executable, and both flavours are run wherever it says yes.
        kernel = self.flavours("palisk_kernel_runs_32bit && echo yes || echo no",
                               PALISK_KERNEL_RUNS_32BIT="")
        self.assertIn(kernel, ("yes", "no"))
        expected = "i686 x64" if kernel == "yes" else "x64"
        self.assertEqual(expected, self.flavours("palisk_runnable_flavours", PALISK_KERNEL_RUNS_32BIT=""))

    def test_the_probe_is_an_i386_program_that_exits_42(self):
        # Run by an i386 emulator, so a broken probe (which every kernel would refuse, making a
        # 32-bit machine look 64-bit only) shows here as well as on machines that run it natively.
        qemu = shutil.which("qemu-i386")
        if not qemu:
            self.skipTest("qemu-i386 is not installed (scripts/setup.sh installs qemu-user)")
        with tempfile.TemporaryDirectory() as folder:
            probe = os.path.join(folder, "probe")
            self.flavours(f'palisk_write_i386_probe "{probe}"')
            self.assertEqual(93, os.path.getsize(probe))
            self.assertEqual(42, subprocess.run([qemu, probe]).returncode)

    def test_a_kernel_that_runs_32bit_code_without_the_loader_installed_is_told_apart(self):
        # PALISK_KERNEL_RUNS_32BIT caches the probe's answer; the loader is looked for on disk.
        why = self.flavours("palisk_why_no_32bit", PALISK_KERNEL_RUNS_32BIT="yes")
        if not os.path.exists("/lib/ld-linux.so.2"):
            self.assertIn("not installed yet", why)
        self.assertEqual("i686 x64", self.flavours("palisk_runnable_flavours", PALISK_KERNEL_RUNS_32BIT="yes"))
        self.assertIn("64-bit user code only", self.flavours("palisk_why_no_32bit", PALISK_KERNEL_RUNS_32BIT="no"))
        self.assertEqual("x64", self.flavours("palisk_runnable_flavours", PALISK_KERNEL_RUNS_32BIT="no"))


if __name__ == "__main__":
    unittest.main()
