"""The whole road of a run under Wine: an agent starts palisk with "/ovparams", the kit is
downloaded and verified, the installer double runs with the right parameters, and its exit code
comes back as the process exit code, the registry value and the result file."""
import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import TEST_BIN, Scenario, wine, wine_background, windows_path  # noqa: E402
from test_downloads import reports  # noqa: E402

RESULT_KEY = "HKU\\.DEFAULT\\Software\\Vudidavi"
PRODUCT_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sentiva"


class Install(unittest.TestCase):
    def setUp(self):
        wine("reg", "add", RESULT_KEY, "/f")

    def tearDown(self):
        wine("reg", "delete", RESULT_KEY, "/f")

    def test_the_road_of_one_run(self):
        with Scenario("road") as s:
            s.build_kit(installer_exit=1641)
            r = s.run(agent_args="/ovparams silent taskId=T-99 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(1641, r.exit_code, r.messages())
            self.assertEqual(1641, r.registry.get("value"), "dwErrCode = the installer's code")
            self.assertEqual(1, len(r.installer_runs))
            run = r.installer_runs[0]
            self.assertTrue(run["exe"].lower().endswith("\\x64\\installer.exe"), run["exe"])
            kit = s.base_url() + "kits/1.0.0/x64"
            self.assertTrue(run["commandLine"].endswith(' currentDownloadLink="%s" /silent taskId="T-99"' % kit),
                            run["commandLine"])
            self.assertTrue(run["parentPath"].lower().endswith("palisk.exe"))
            self.assertTrue(run["folder"].lower().rstrip("\\").endswith(run["exe"].lower().split("\\")[-3]),
                            "started in the working folder")
            self.assertEqual([("status", 200, 0, "T-99"), ("install", "-2/0"), ("install", "-1/0"),
                              ("status", 201, 0, "T-99")], reports(r), "nothing is reported after the installer")
            self.assertEqual([], r.temp_left, "the working folder is gone")
            self.assertTrue(r.logged("[PALISK] exit code setup.exe [1641]."))

    def test_a_task_id_with_a_blank_and_a_quote_stays_one_argument(self):
        with Scenario("hostile-task") as s:
            s.build_kit()
            r = s.run(agent_args='/ovparams silent "taskId=T 9\\"/x" sourceUrlEnc=' + s.encoded_url())
            self.assertEqual(0, r.exit_code, r.messages())
            command = r.installer_runs[0]["commandLine"]
            self.assertTrue(command.endswith(' /silent taskId="T%209%22/x"'), command)

    def test_catalog_tags_without_their_terminator_install_too(self):
        # The road above uses tags as Windows' catalog tools store them (terminating NUL
        # included); kits from tools that leave the terminator out install the same way.
        with Scenario("bare-tags") as s:
            s.build_kit(installer_exit=7, breaks=["tags-without-nul"])
            r = s.run(agent_args="/ovparams silent taskId=T-5 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(7, r.exit_code, r.messages())
            self.assertEqual(1, len(r.installer_runs))

    def test_verified_files_cannot_be_changed_before_the_installer_runs(self):
        # Another process goes after payload.txt from the moment zz_last.bin (downloaded after
        # it, and held back by the server) appears until the installer has run: the verified
        # file can be neither written, renamed nor deleted, and the installer reads its bytes.
        with Scenario("held") as s:
            s.serve(rules=[{"path": "zz_last.bin", "delay": 1.5}])
            s.build_kit(files={"payload.txt": b"verified bytes\r\n", "zz_last.bin": b"last"},
                        installer_show="payload.txt")
            report = os.path.join(s.records, "tamperer.json")
            tamperer = wine_background(windows_path(os.path.join(TEST_BIN, "test_tamperer.exe")),
                                       "--temp", windows_path(s.temp), "--target", "payload.txt",
                                       "--after", "zz_last.bin", "--until",
                                       windows_path(os.path.join(s.records, "installer.jsonl")),
                                       "--report", windows_path(report))
            r = s.run(agent_args="/ovparams silent taskId=T-7 sourceUrlEnc=" + s.encoded_url())
            tamperer.wait(timeout=120)
            self.assertEqual(0, r.exit_code, r.messages())
            with open(report) as f:
                attacks = json.load(f)
            self.assertTrue(attacks["found"] and attacks["rounds"] > 0, attacks)
            sharing_violation = [32]
            for attack in ("write", "rename", "delete"):
                self.assertEqual({"ok": 0, "errors": sharing_violation}, attacks[attack], attack)
            self.assertEqual(1, len(r.installer_runs))
            self.assertEqual("verified bytes\r\n", r.installer_runs[0]["shown"])
            self.assertEqual([], r.temp_left, "the held files are let go before the working folder goes")

    def test_run_params_replace_silent_and_task_id(self):
        with Scenario("runparams") as s:
            s.build_kit()
            r = s.run(agent_args='/ovparams silent taskId=T-1 onlyCheckPrerequisites "runParams=/quiet /norestart" '
                                 "sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(0, r.exit_code)
            command = r.installer_runs[0]["commandLine"]
            self.assertTrue(command.endswith('" /quiet /norestart /onlyCheckPrerequisites'), command)
            self.assertNotIn("/silent", command)
            self.assertNotIn("taskId=", command)

    def test_unsigned_installer_gives_191_and_reports(self):
        with Scenario("unsigned") as s:
            s.build_kit(breaks=["unsigned-pe:Installer.exe"])
            r = s.run(agent_args="/ovparams silent taskId=T-2 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(191, r.exit_code)
            self.assertEqual([], r.installer_runs, "never started")
            self.assertEqual([("install", "5/191"), ("status", 211, 191, "T-2")], reports(r)[-2:])
            self.assertTrue(r.logged("failed signature check."))

    def test_elevation_required_runs_the_installer_again(self):
        with Scenario("elevate") as s:
            s.build_kit(installer_740_once=True, installer_exit=0)
            r = s.run(agent_args="/ovparams silent sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(0, r.exit_code)
            self.assertEqual([740, 0], [run["exitCode"] for run in r.installer_runs])
            self.assertTrue(r.logged("[PALISK] elevation required."))

    def test_status_to_file_beside_the_parent(self):
        with Scenario("statusfile") as s:
            s.build_kit(installer_exit=-3)
            r = s.run(agent_args="/ovparams silent statustofile sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(0xFFFFFFFD, r.exit_code)
            self.assertTrue(os.path.exists(os.path.join(s.folder, "agent", "-3.ret")), os.listdir(os.path.join(s.folder, "agent")))

    def test_too_little_space_stops_before_the_download(self):
        with Scenario("space") as s:
            product = {"manufacturer": "Orvane", "productname": "Big", "minspaceavailabe": 2000000000, "retry_fail": 1,
                       "UpgradeCode": "{X}", "config": {}}
            s.build_kit(product=product)
            r = s.run(agent_args="/ovparams silent taskId=T-3 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(8, r.exit_code)
            self.assertFalse(any(p.endswith("Installer.exe") for p in r.paths()), "nothing downloaded")
            self.assertEqual([], reports(r), "no report for the space check")
            self.assertTrue(r.logged("Available space check failed: CheckAvailableSpace error = 8"))
            self.assertTrue(any("Not enough free space on drive C:\\. Please free " in m for m in r.messages()),
                            r.messages())

    def test_keep_settings_copies_the_installed_configuration(self):
        with Scenario("keep") as s:
            installed = os.path.join(s.folder, "installed")
            os.makedirs(installed)
            with open(os.path.join(installed, "tallon.xml"), "w") as f:
                f.write('<root><operations><value var="Localization">ro-RO</value></operations></root>')
            from scenario import windows_path, default_product
            product = default_product()
            wine("reg", "add", PRODUCT_KEY, "/v", "UpgradeCode", "/d", product["UpgradeCode"], "/f")
            wine("reg", "add", PRODUCT_KEY, "/v", "InstallLocation", "/d", windows_path(installed), "/f")
            try:
                s.build_kit(config={"keepSettings": "1"}, installer_exit=0,
                            files={"check.cmd": b"@echo off\r\n"})
                r = s.run(agent_args="/ovparams silent sourceUrlEnc=" + s.encoded_url())
            finally:
                wine("reg", "delete", PRODUCT_KEY, "/f")
            self.assertEqual(0, r.exit_code, r.messages())
            self.assertIn("tallon.old.xml", [x.lower() for x in r.installer_runs[0]["siblings"]])


if __name__ == "__main__":
    unittest.main()
