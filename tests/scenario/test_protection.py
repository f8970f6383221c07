"""Palisk's own run with the DLL load protection switched on by an administrator: in report mode
the run installs as usual and the report names the unsigned libraries it loaded from its own
(untrusted) folder; in block mode, libraries signed by the publisher are accepted and the run
installs, while unsigned ones are refused and reported as blocked."""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import DIST, PKI, PREFIX, Scenario, wine, windows_path  # noqa: E402
from test_install import RESULT_KEY  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools", "kit"))
import kittool  # noqa: E402

SWITCH = "BDC4ADF5_0D7C_42BD_BB5B_F3E3241E1B77"
REPORT_FOLDER = os.path.join(PREFIX, "drive_c", "ProgramData", "48C4687D-9760-4F5B-BAB3-60351B0841E4")
REPORT = os.path.join(REPORT_FOLDER, "dllReport.palisk.exe.V1")
LIBRARIES = ("hypra.dll", "log.dll", "Glossel.dll")
LOADED_IN_A_SILENT_RUN = ("hypra.dll", "log.dll")


def decoded_events():
    """(result, hook, requested name) of every event in palisk's report file."""
    if not os.path.exists(REPORT):
        return []
    completed = wine(windows_path(os.path.join(DIST, "dllreport_decode.exe")), windows_path(REPORT), timeout=120)
    events = []
    for line in completed.stdout.decode("utf-8", "replace").splitlines():
        fields = [f.strip() for f in line.split(" | ")]
        if len(fields) == 8:
            events.append((fields[0], fields[1], fields[2]))
    return events


class Protection(unittest.TestCase):
    def setUp(self):
        wine("reg", "add", RESULT_KEY, "/f")
        if os.path.exists(REPORT):
            os.remove(REPORT)
        self.saved = dict(os.environ)

    def tearDown(self):
        os.environ.clear()
        os.environ.update(self.saved)
        wine("reg", "delete", RESULT_KEY, "/f")

    def run_road(self, s, switch, installer_exit=5):
        s.build_kit(installer_exit=installer_exit)
        os.environ[SWITCH + switch] = "1"
        try:
            return s.run(agent_args="/ovparams silent taskId=T-7 sourceUrlEnc=" + s.encoded_url())
        finally:
            del os.environ[SWITCH + switch]

    def test_report_mode_installs_and_reports_the_unsigned_libraries(self):
        with Scenario("protect-report") as s:
            r = self.run_road(s, "_snInterDll")
            self.assertEqual(5, r.exit_code, r.messages())
            self.assertEqual(1, len(r.installer_runs))
            events = decoded_events()
            reported = {os.path.basename(name.replace("\\", "/")).lower() for result, hook, name in events
                        if result == "VULNERABLE_PATH"}
            for library in LOADED_IN_A_SILENT_RUN:
                self.assertIn(library.lower(), reported, events)
            self.assertFalse([e for e in events if e[0] == "DLL_BLOCKED"], events)

    def test_block_mode_accepts_signed_libraries_and_blocks_unsigned_ones(self):
        with Scenario("protect-block-signed") as s:
            for library in LIBRARIES:
                kittool.sign_file(os.path.join(s.dist, library), os.path.join(PKI, "publisher.chain.pem"),
                                  os.path.join(PKI, "publisher.key"))
            r = self.run_road(s, "_snInterDll_block")
            self.assertEqual(5, r.exit_code, r.messages())
            events = decoded_events()
            self.assertFalse([e for e in events if e[0] == "DLL_BLOCKED"], events)
        if os.path.exists(REPORT):
            os.remove(REPORT)
        with Scenario("protect-block-unsigned") as s:
            r = self.run_road(s, "_snInterDll_block")
            self.assertNotEqual(5, r.exit_code, "the run cannot go on without its HTTP library")
            self.assertEqual([], r.installer_runs)
            blocked = {os.path.basename(name.replace("\\", "/")).lower() for result, hook, name in decoded_events()
                       if result == "DLL_BLOCKED"}
            self.assertIn("hypra.dll", blocked)


if __name__ == "__main__":
    unittest.main(verbosity=2)
