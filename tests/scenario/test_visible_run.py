"""Visible runs of Palisk under Xvfb, with a user (tests/doubles/gui_user.exe) in front of
them: the progress screen and the quit question, the cancel path (-2, no report), the error
popups, and a missing engine."""
import os
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario import TEST_BIN, Scenario, windows_path, wine  # noqa: E402
from test_downloads import reports  # noqa: E402

CANCELLED = 0xFFFFFFFE
ENGINE_MISSING = 0xFFFFFFFF
PART_SIZE = 256 * 1024
PARTS = ["part1.bin", "part2.bin", "part3.bin", "part4.bin"]


def visible_args(s, task="T-9"):
    return "/ovparams taskId=%s sourceUrlEnc=%s" % (task, s.encoded_url())


def run_with_user(s, steps, agent_args, timeout=180):
    """Runs Palisk and, at the same time, the user's steps; returns (run result, user output)."""
    outcome = {}
    runner = threading.Thread(target=lambda: outcome.update(run=s.run(agent_args=agent_args, timeout=timeout)))
    runner.start()
    user = wine(windows_path(os.path.join(TEST_BIN, "gui_user.exe")), "--timeout", "60",
                "--shots", windows_path(s.records), *steps, timeout=timeout)
    runner.join(timeout)
    return outcome.get("run"), user.stdout.decode("utf-8", "replace") + user.stderr.decode("utf-8", "replace")


def slow_parts(delay):
    return [{"path": r"/part\d\.bin$", "delay": delay}]


class VisibleRun(unittest.TestCase):
    def test_cancel_no_goes_on_then_yes_stops_with_minus_2_and_no_report(self):
        with Scenario("visible-cancel") as s:
            s.serve(rules=slow_parts(2.0))
            s.build_kit(files={name: bytes([i]) * PART_SIZE for i, name in enumerate(PARTS)})
            r, user = run_with_user(s, ["wait:300", "cancel", "no", "wait:4500", "cancel", "yes", "gone"],
                                    visible_args(s))
            self.assertIsNotNone(r, user)
            self.assertIn("done: gone", user)
            self.assertEqual(CANCELLED, r.exit_code, user + "\n".join(r.messages()))
            self.assertTrue(r.logged("Files download cancelled by user."))
            # After No the download went on to the next file; after Yes it stopped before the end.
            parts = [p for p in r.paths("http") if p.endswith(".bin")]
            self.assertGreaterEqual(len(parts), 2, parts)
            self.assertLess(len(parts), len(PARTS), parts)
            self.assertFalse([p for p in r.paths("http") if p.endswith("test_installer.ini")], "the last file never comes")
            self.assertEqual([], r.installer_runs)
            # The start reports only: a cancelled run reports nothing about its end.
            self.assertEqual([("status", 200, 0, "T-9"), ("install", "-2/0")], reports(r))
            self.assertEqual([], r.temp_left)

    def test_quit_confirmed_during_the_last_file_stops_its_transfer_and_installs_nothing(self):
        with Scenario("visible-cancel-last") as s:
            # The kit's last file arrives slowly (10 bytes every 0.5 s, some 7 s): the quit
            # question opens while it arrives and stays open for 3 s; Yes then still counts.
            s.serve(rules=[{"path": r"test_installer\.ini$", "trickle": [10, 0.5]}])
            s.build_kit()
            r, user = run_with_user(s, ["shot:started", "wait:2000", "cancel", "wait:3000", "yes", "gone"],
                                    visible_args(s))
            self.assertIsNotNone(r, user)
            self.assertIn("done: gone", user)
            self.assertEqual(CANCELLED, r.exit_code, user + "\n".join(r.messages()))
            self.assertTrue(r.logged("Files download cancelled by user."))
            self.assertEqual([], r.installer_runs)
            self.assertEqual([("status", 200, 0, "T-9"), ("install", "-2/0")], reports(r))
            self.assertEqual([], r.temp_left)

    def test_closing_the_screen_does_not_wait_on_an_open_question(self):
        with Scenario("visible-cancel-open") as s:
            # The last file fails while the user leaves the quit question open: the run goes on
            # to its error popup without an answer.
            s.serve(rules=[{"path": r"test_installer\.ini$", "delay": 2.0, "status": 404}])
            s.build_kit()
            r, user = run_with_user(s, ["shot:started", "wait:500", "cancel", "errorpopup:open-question-error"],
                                    visible_args(s))
            self.assertIsNotNone(r, user)
            self.assertIn("done: errorpopup:open-question-error", user)
            self.assertEqual(100404, r.exit_code, user + "\n".join(r.messages()))
            self.assertEqual([], r.installer_runs)

    def test_visible_run_without_cancel_installs_and_closes_its_screen(self):
        with Scenario("visible-install") as s:
            s.serve(rules=slow_parts(0.5))
            s.build_kit(files={name: bytes([i + 1]) * PART_SIZE for i, name in enumerate(PARTS[:2])})
            r, user = run_with_user(s, ["shot:progress", "altf4", "wait:300", "gone"], visible_args(s))
            self.assertIn("done: gone", user)
            self.assertEqual(0, r.exit_code, user + "\n".join(r.messages()))
            self.assertEqual(1, len(r.installer_runs), "Alt+F4 did not stop the run")
            self.assertEqual([("status", 200, 0, "T-9"), ("install", "-2/0"), ("install", "-1/0"),
                              ("status", 201, 0, "T-9")], reports(r))

    def test_download_error_popup_then_reports(self):
        with Scenario("visible-error") as s:
            s.serve(rules=[{"path": "Installer.exe$", "status": 404}])
            s.build_kit()
            # The progress screen comes and goes; then the error popup has no owner.
            outcome = {}
            runner = threading.Thread(target=lambda: outcome.update(run=s.run(agent_args=visible_args(s))))
            runner.start()
            user = wine(windows_path(os.path.join(TEST_BIN, "gui_user.exe")), "--timeout", "60", "--shots",
                        windows_path(s.records), "errorpopup:download-error", timeout=120)
            runner.join(120)
            output = user.stdout.decode("utf-8", "replace")
            r = outcome["run"]
            self.assertIn("done: errorpopup:download-error", output)
            self.assertEqual(100404, r.exit_code)
            self.assertFalse(r.logged("[PALISK] An error occurred"), "a visible run shows the text instead")
            self.assertEqual([("status", 200, 0, "T-9"), ("install", "-2/0"), ("install", "5/100404"),
                              ("status", 211, 100404, "T-9")], reports(r))
            self.assertTrue(os.path.exists(os.path.join(s.records, "download-error.ppm")))

    def error_popup_run(self, s, name):
        """A visible run whose user photographs and OKs the next popup of the run stages."""
        outcome = {}
        runner = threading.Thread(target=lambda: outcome.update(run=s.run(agent_args=visible_args(s))))
        runner.start()
        user = wine(windows_path(os.path.join(TEST_BIN, "gui_user.exe")), "--timeout", "90", "--shots",
                    windows_path(s.records), "errorpopup:" + name, timeout=150)
        runner.join(150)
        output = user.stdout.decode("utf-8", "replace")
        self.assertIn("done: errorpopup:" + name, output)
        self.assertTrue(os.path.exists(os.path.join(s.records, name + ".ppm")))
        return outcome["run"]

    def test_unreadable_descriptor_shows_the_network_popup_then_reports(self):
        with Scenario("visible-descriptor") as s:
            s.serve(rules=[{"path": "data.xml$", "status": 404}])
            s.build_kit()
            r = self.error_popup_run(s, "descriptor-error")
            self.assertNotEqual(0, r.exit_code)
            self.assertEqual([("install", "5/%d" % r.exit_code), ("status", 211, r.exit_code, "T-9")], reports(r))

    def test_too_little_free_space_shows_its_popup(self):
        from scenario import default_product
        with Scenario("visible-space") as s:
            product = dict(default_product(), minspaceavailabe=2000000000)
            s.build_kit(product=product)
            r = self.error_popup_run(s, "free-space")
            self.assertEqual(8, r.exit_code)
            self.assertTrue(r.logged("Available space check failed: CheckAvailableSpace error = 8"))
            self.assertFalse(r.logged("[SETUP] Not enough free space"), "a visible run shows the message instead of logging it")
            self.assertEqual([], reports(r), "nothing was downloaded, nothing is reported")

    def test_missing_engine_ends_a_visible_run_with_minus_1_and_a_silent_one_never_needs_it(self):
        with Scenario("no-engine") as s:
            s.build_kit()
            os.remove(os.path.join(s.dist, "sciter.dll"))
            r = s.run(agent_args="/ovparams statustofile taskId=T-9 sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(ENGINE_MISSING, r.exit_code)
            self.assertEqual([], r.installer_runs)
            # Checked before anything is reported, and the run still ends through its stop stages.
            self.assertEqual([], reports(r))
            self.assertEqual([], r.temp_left)
            self.assertTrue(os.path.exists(os.path.join(s.folder, "agent", "-1.ret")),
                            os.listdir(os.path.join(s.folder, "agent")))
            r = s.run(agent_args="/ovparams silent taskId=T sourceUrlEnc=" + s.encoded_url())
            self.assertEqual(0, r.exit_code, "a silent run shows nothing and needs no engine")
            self.assertEqual(1, len(r.installer_runs))

    def test_engine_without_its_entry_point_ends_a_visible_run_with_minus_1(self):
        import shutil
        with Scenario("no-entry") as s:
            s.build_kit()
            # A library by the engine's name that exports no "SciterAPI".
            shutil.copyfile(os.path.join(s.dist, "hypra.dll"), os.path.join(s.dist, "sciter.dll"))
            r = s.run(agent_args=visible_args(s))
            self.assertEqual(ENGINE_MISSING, r.exit_code)
            self.assertEqual([], r.installer_runs)


if __name__ == "__main__":
    unittest.main()
