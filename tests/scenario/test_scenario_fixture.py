"""The scenario fixture itself: a signed kit served with faults, doubles run under Wine, and
everything they left collected."""
import os
import sys
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import Scenario, codec  # noqa: E402


class ScenarioFixture(unittest.TestCase):
    def test_installer_double_records_how_it_was_started(self):
        with Scenario("installer-double") as s:
            s.build_kit(installer_exit=-5, architectures=("win32",))
            installer = os.path.join(s.kit, "kits", "1.0.0", "win32", "Installer.exe")
            r = s.run(program=installer, palisk_args="/silent taskId=T-1", agent_args="/ovparams silent")
            self.assertEqual(0xFFFFFFFB, r.exit_code, r.stdout)
            self.assertEqual(1, len(r.installer_runs))
            run = r.installer_runs[0]
            self.assertIn("/silent taskId=T-1", run["commandLine"])
            self.assertTrue(run["parentPath"].lower().endswith("test_agent.exe"), run)
            self.assertEqual(-5, run["exitCode"])
            self.assertEqual([], r.temp_left)

    def test_installer_double_exits_740_once(self):
        with Scenario("installer-740") as s:
            s.build_kit(installer_740_once=True, installer_exit=0, architectures=("win32",))
            installer = os.path.join(s.kit, "kits", "1.0.0", "win32", "Installer.exe")
            self.assertEqual(740, s.run(program=installer).exit_code)
            self.assertEqual(0, s.run(program=installer).exit_code)

    def test_served_kit_with_faults_is_recorded(self):
        with Scenario("served-kit") as s:
            s.serve(rules=[{"path": "latest.dat$", "status": 503, "first": 1}])
            built = s.build_kit()
            self.assertEqual({"win32", "x64"}, set(built["architectures"]))
            url = s.base_url() + "latest.dat"
            with self.assertRaises(urllib.error.HTTPError):
                urllib.request.urlopen(url, timeout=10)
            with urllib.request.urlopen(url, timeout=10) as response:
                self.assertEqual(b"1.0.0 kits/1.0.0\n", response.read())
            self.assertEqual(["/latest.dat", "/latest.dat"], s.servers and [r["path"] for r in s.servers.requests()])
            with urllib.request.urlopen(s.base_url() + "installer.xml", timeout=10) as response:
                config = response.read().decode()
            self.assertIn("<installLink>%smgmt/install</installLink>" % s.base_url(), config)

    def test_palisk_decodes_the_url_in_the_agents_file_name(self):
        with Scenario("bracketed-agent") as s:
            s.build_kit(architectures=("win32", "x64"))
            url = s.base_url() + "?lang=ro-RO"
            r = s.run(agent_name="Agent[%s].exe" % codec.encode_url(url))
            self.assertIsNotNone(r.exit_code)
            self.assertTrue(r.log, r.stdout)
            self.assertTrue(r.logged("[SETUP] sourceNameDecoded [%s]" % url), r.messages())
            self.assertEqual([], r.temp_left, "the working folder is removed")


if __name__ == "__main__":
    unittest.main()
