"""Libraries planted beside palisk.exe under the names of system libraries, as a file left in a
Downloads folder would be: a whole silent install loads none of them. Wine prefers its own
builtin libraries, so every planted name is set native-first (WINEDLLOVERRIDES=<names>=n,b):
Wine then searches the executable's folder first, as Windows does for a name that is not a
KnownDLL. The control, a program that imports version.dll statically, loads its planted copy."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import TEST_BIN, Scenario, wine  # noqa: E402
from test_install import RESULT_KEY  # noqa: E402

PLANTED = os.path.join(TEST_BIN, "planted")
# Names that Wine's own builtin libraries load through ntdll's internal paths, which search the
# executable's folder whatever SetDefaultDllDirectories said (measured under Wine 8): its user32
# imports version.dll statically, before any code of ours runs, and its winhttp delay-loads
# iphlpapi.dll, which imports dnsapi.dll. On Windows user32 is a KnownDLL whose imports are KnownDLLs, and system
# libraries' delay loads follow the process's default directories. The control plants version.dll.
LOADED_BY_WINE_ITSELF = {"version", "iphlpapi", "dnsapi"}


def plant(folder, leave_out=()):
    """Copies the planted libraries into `folder`; returns their names without ".dll"."""
    names = sorted(n[:-4] for n in os.listdir(PLANTED) if n.lower().endswith(".dll") and n[:-4] not in leave_out)
    for name in names:
        shutil.copyfile(os.path.join(PLANTED, name + ".dll"), os.path.join(folder, name + ".dll"))
    return names


def loaded(folder):
    """The planted libraries that were loaded: each leaves "<name>.dll.loaded" beside itself."""
    return sorted(n[:-len(".loaded")].lower() for n in os.listdir(folder) if n.endswith(".loaded"))


class Planting(unittest.TestCase):
    def setUp(self):
        wine("reg", "add", RESULT_KEY, "/f")
        self.saved = os.environ.get("WINEDLLOVERRIDES")

    def tearDown(self):
        if self.saved is None:
            os.environ.pop("WINEDLLOVERRIDES", None)
        else:
            os.environ["WINEDLLOVERRIDES"] = self.saved
        wine("reg", "delete", RESULT_KEY, "/f")

    def native_first(self, names):
        os.environ["WINEDLLOVERRIDES"] = ",".join(names) + "=n,b"

    def test_a_silent_install_loads_nothing_planted_beside_palisk(self):
        with Scenario("planting") as s:
            s.build_kit(installer_exit=3)
            self.native_first(plant(s.dist, LOADED_BY_WINE_ITSELF))
            r = s.run(agent_args="/ovparams silent taskId=T-11 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual([], loaded(s.dist))
            self.assertEqual(3, r.exit_code, r.messages())
            self.assertEqual(1, len(r.installer_runs), "the whole road ran")

    def test_the_control_loads_its_planted_version_dll(self):
        # Proves that the set-up plants for real: without it the test above could not fail.
        with Scenario("planting-control") as s:
            self.native_first(plant(s.dist))
            control = os.path.join(s.dist, "planting_control.exe")
            shutil.copyfile(os.path.join(TEST_BIN, "planting_control.exe"), control)
            s.run(program=control)
            self.assertIn("version.dll", loaded(s.dist))


if __name__ == "__main__":
    unittest.main(verbosity=2)
