"""Palisk's download phase end to end under Wine: the requests it makes, in order, the status
reports the management server receives, and the outcomes of injected faults."""
import json
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import Scenario  # noqa: E402

INSTALLER_EXIT = 0  # the installer double's default
STATUS_RE = re.compile(r'^\{"version":1, "action": 1, "stateId": (\d+) , "error": (-?\d+), '
                       r'(?:"taskId":"([^"]*)", )?"timestamp": (\d+) \}$')


def reports(result):
    """The management requests in order: ("install", "-2/0") or ("status", stateId, error, taskId)."""
    seen = []
    for r in result.requests:
        if r["path"].startswith("/mgmt/install/"):
            seen.append(("install", r["path"][len("/mgmt/install/"):]))
        elif r["path"].startswith("/mgmt/status"):
            match = STATUS_RE.match(r["form"]["json"])
            assert match, r["form"]["json"]
            seen.append(("status", int(match.group(1)), int(match.group(2)), match.group(3)))
    return seen


def run_silent(s, task="T-7", extra=""):
    return s.run(agent_args="/ovparams silent taskId=%s sourceUrlEnc=%s %s" % (task, s.encoded_url(), extra))


class DownloadPhase(unittest.TestCase):
    def test_successful_download_reports_in_order(self):
        with Scenario("download-ok") as s:
            s.build_kit()
            r = run_silent(s)
            self.assertEqual(INSTALLER_EXIT, r.exit_code, r.messages())
            kit_paths = [p for p in r.paths("http") if not p.startswith("/mgmt/")]
            self.assertEqual(["/installer.xml", "/latest.dat", "/kits/1.0.0/x64/kit.cat", "/kits/1.0.0/x64/data.xml"],
                             kit_paths[:4], "the 64-bit prefix uses the x64 kit")
            self.assertEqual({"/kits/1.0.0/x64/Installer.exe", "/kits/1.0.0/x64/test_installer.ini"}, set(kit_paths[4:]))
            self.assertEqual([("status", 200, 0, "T-7"), ("install", "-2/0"), ("install", "-1/0"),
                              ("status", 201, 0, "T-7")], reports(r))
            # The reports frame the file downloads.
            paths = r.paths("http")
            self.assertLess(paths.index("/mgmt/install/-2/0"), paths.index("/kits/1.0.0/x64/Installer.exe"))
            self.assertGreater(paths.index("/mgmt/install/-1/0"), paths.index("/kits/1.0.0/x64/Installer.exe"))
            self.assertTrue(all("fakeparam=" in q["query"] for q in r.requests if q["path"].startswith("/kits/")))
            self.assertTrue(r.logged("Catalog valid."))
            self.assertEqual([], r.temp_left, "the working folder is removed")

    def test_descriptor_failure_sends_install_5_and_status_211(self):
        with Scenario("descriptor-failure") as s:
            s.serve(rules=[{"path": "data.xml$", "status": 404}])
            s.build_kit()
            r = run_silent(s, task="")
            self.assertNotEqual(0, r.exit_code)
            self.assertEqual([("install", "5/%d" % r.exit_code), ("status", 211, r.exit_code, None)], reports(r),
                             "without a taskId the body has no taskId field")
            self.assertTrue(r.logged("Reading palisk data (from data.xml) failed"))

    def test_download_failure_reports_and_stops(self):
        with Scenario("download-failure") as s:
            s.serve(rules=[{"path": "Installer.exe$", "status": 404}])
            s.build_kit()
            r = run_silent(s)
            self.assertEqual(100404, r.exit_code)
            self.assertEqual([("status", 200, 0, "T-7"), ("install", "-2/0"), ("install", "5/100404"),
                              ("status", 211, 100404, "T-7")], reports(r))
            self.assertEqual(3, r.paths("http").count("/kits/1.0.0/x64/Installer.exe"), "retry_fail attempts")
            self.assertTrue(r.logged("[PALISK] An error occurred while downloading the files."), "translated (en-US)")

    def test_texts_in_the_language_of_the_url_and_raw_without_glossel(self):
        from scenario import codec
        with Scenario("language") as s:
            s.serve(rules=[{"path": "Installer.exe$", "status": 404}])
            s.build_kit()
            # Silent (from Palisk's own command line): the text goes to the log, not to a popup.
            r = s.run(agent_name="Setup[%s].exe" % codec.encode_url(s.base_url() + "?lang=fr-FR"), palisk_args="/silent")
            self.assertEqual(100404, r.exit_code)
            self.assertTrue(r.logged("[PALISK] Une erreur s'est produite lors du t\u00e9l\u00e9chargement des fichiers."),
                            r.messages())
            os.remove(os.path.join(s.dist, "Glossel.dll"))
            r = s.run(agent_name="Setup[%s].exe" % codec.encode_url(s.base_url() + "?lang=fr-FR"), palisk_args="/silent")
            self.assertEqual(100404, r.exit_code, "the run goes on without Glossel")
            self.assertTrue(r.logged("[PALISK] _LSAn error occured while downloading the filesLS_"), r.messages())

    def test_tampered_file_gives_minus_13(self):
        with Scenario("tampered") as s:
            s.build_kit(breaks=["tamper-file:test_installer.ini"])
            r = run_silent(s)
            self.assertEqual(0xFFFFFFF3, r.exit_code)
            self.assertEqual(("install", "5/-13"), reports(r)[-2])
            self.assertEqual(("status", 211, -13, "T-7"), reports(r)[-1])
            self.assertTrue(r.logged("failed validation after download"))

    def test_install_link_ending_in_a_slash_gets_no_second_one(self):
        with Scenario("install-slash") as s:
            s.serve()
            s.build_kit(config={"installLink": s.base_url() + "mgmt/install/"})
            r = run_silent(s)
            self.assertIn("/mgmt/install/-2/0", r.paths())
            self.assertFalse(any("//" in p for p in r.paths()))

    def test_configuration_xml_retried_after_a_real_wait(self):
        with Scenario("config-retry") as s:
            s.serve(rules=[{"path": "installer.xml$", "status": 503, "first": 1}])
            s.build_kit()
            r = run_silent(s)
            self.assertEqual(INSTALLER_EXIT, r.exit_code)
            self.assertEqual(2, r.paths().count("/installer.xml"))
            config = [x for x in r.requests if x["path"] == "/installer.xml"]
            self.assertGreaterEqual(config[1]["time"] - config[0]["time"], 4.9, "5000 ms between attempts")
            self.assertTrue(r.logged("retryCountdown[12]"))
            self.assertTrue(r.logged("retryCountdown[11]"))


if __name__ == "__main__":
    unittest.main()
