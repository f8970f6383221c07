"""The release form as it ships: scripts/release.sh builds this flavour for size, strips every
module with its debug information beside it, stamps the one version of the VERSION file and
signs with the test publisher; the result passes Palisk's own signature check and installs a
kit on the silent road."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import BUILD, DIST, FLAVOUR, PKI, ROOT, Scenario, wine, windows_path  # noqa: E402
from pe_file import PeFile  # noqa: E402

RELEASE = os.path.join(BUILD, "release")
MODULES = ["palisk.exe", "Glossel.dll", "log.dll", "hypra.dll", "sciter.dll", "outside/Tallon.dll", "outside/Vantor.dll"]
SIGNATURE_CHECK = os.path.join(BUILD, "tools", "signature_check.exe")
RESULT_KEY = "HKU\\.DEFAULT\\Software\\Vudidavi"

with open(os.path.join(ROOT, "VERSION")) as _f:
    VERSION = _f.read().strip()


def module_path(name):
    return os.path.join(RELEASE, *name.split("/"))


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        completed = subprocess.run(
            [os.path.join(ROOT, "scripts", "release.sh"), "--cert", os.path.join(PKI, "publisher.chain.pem"),
             "--key", os.path.join(PKI, "publisher.key"), FLAVOUR],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print(completed.stdout[-3000:])
        if completed.returncode != 0:
            raise AssertionError("scripts/release.sh failed")

    def test_modules_are_stripped_with_their_debug_information_beside_them(self):
        for name in MODULES:
            module = PeFile(module_path(name))
            self.assertEqual([], [s for s in module.section_names() if s.startswith(".debug")], name)
            link = module.section_data(".gnu_debuglink")
            self.assertIsNotNone(link, name)
            self.assertEqual(os.path.basename(name) + ".debug", link.split(b"\0")[0].decode(), name)
            self.assertIn(".debug_info", PeFile(module_path(name) + ".debug").section_names(), name)

    def test_every_module_carries_the_one_version(self):
        for name in MODULES:
            info = PeFile(module_path(name)).version_info()
            self.assertIsNotNone(info, name)
            self.assertEqual(VERSION, info["fixed"], name)
            self.assertEqual(VERSION, info["strings"].get("FileVersion"), name)
            self.assertEqual(VERSION, info["strings"].get("ProductVersion"), name)
            self.assertEqual(os.path.basename(name), info["strings"].get("OriginalFilename"), name)

    def test_signatures_pass_our_own_verifier(self):
        completed = wine(SIGNATURE_CHECK, *[windows_path(module_path(name)) for name in MODULES])
        self.assertEqual(0, completed.returncode, completed.stdout + completed.stderr)
        # The test build's modules are unsigned: the same check refuses them.
        completed = wine(SIGNATURE_CHECK, windows_path(os.path.join(DIST, "palisk.exe")))
        self.assertEqual(1, completed.returncode, completed.stdout + completed.stderr)

    def test_the_silent_road_runs_from_the_release(self):
        wine("reg", "add", RESULT_KEY, "/f")
        try:
            with Scenario("release-road", dist=RELEASE) as s:
                s.build_kit(installer_exit=1641)
                r = s.run(agent_args="/ovparams silent taskId=T-7 sourceUrlEnc=" + s.encoded_url())
                self.assertEqual(1641, r.exit_code, r.messages())
                self.assertEqual(1641, r.registry.get("value"))
                self.assertEqual(1, len(r.installer_runs))
                self.assertTrue(r.logged("KitVersion: [%s]" % VERSION), r.messages())
                self.assertEqual([], r.temp_left)
        finally:
            wine("reg", "delete", RESULT_KEY, "/f")


if __name__ == "__main__":
    unittest.main()
