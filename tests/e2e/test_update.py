"""Self-update end to end: the demo gateway offers a release signed with the development key; the
program downloads and verifies it, starts its installer and ends; the installer swaps the files
and starts the program again, which then reports the new version code."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.request

from harness import end_process, BUILD, Demo, Program, Xvfb, wait_until

TOP = os.environ.get("HB_E2E_TOP", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
PACK = os.path.join(BUILD, "tools/pack/hallboard-pack")


@unittest.skipUnless(os.path.exists(PACK), "hallboard-pack is not built")
class SelfUpdate(unittest.TestCase):
    def setUp(self):
        self.x = Xvfb()
        self.demo = Demo()
        self.program = Program(self.x, self.demo)
        self.work = tempfile.mkdtemp(prefix="hb-e2e-release-")
        self.restarted_pid = None

    def tearDown(self):
        end_process(self.restarted_pid, "the restarted program")
        self.program.cleanup()
        self.demo.stop()
        self.x.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def test_release_is_installed_and_the_program_starts_again(self):
        # The release: a copy of the program folder with one file more to show the swap happened.
        release = os.path.join(self.work, "release")
        shutil.copytree(self.program.install, release)
        os.remove(os.path.join(release, "hallBoard.ini"))
        with open(os.path.join(release, "release-note.txt"), "w", encoding="utf-8") as f:
            f.write("1.0.2\n")
        with open(os.path.join(release, "manifest.json"), "w", encoding="utf-8") as f:
            f.write('{"component":"HallBoard","version":"1.0.2","version_code":3}\n')
        package = os.path.join(self.work, "hallBoard-1.0.2.zip")
        subprocess.run([PACK, "pack", "--in", release, "--out", package, "--component", "HallBoard",
                        "--version", "1.0.2", "--version-code", "3", "--program", "hallBoard", "--key",
                        os.path.join(TOP, "tests/data/signature/dev-release-key.pem")],
                       check=True, stdout=subprocess.DEVNULL)
        self.demo.release(path=package, version_code=3, version="1.0.2")

        self.program.start()
        first_pid = self.program.state()["pid"]
        # The first check comes 10 s after the window shows; the program ends once its installer runs.
        wait_until(lambda: self.program.proc.poll() is not None, 90, interval=0.5,
                   what="the program to end for its installer")
        self.assertEqual(self.program.proc.returncode, 0)
        self.assertIn("UPDATE_RESTART", self.program.log_text())

        st = wait_until(lambda: (self.program.state() or {}).get("pid") not in (None, first_pid)
                        and self.program.state(), 60, interval=0.5, what="the program to start again")
        self.restarted_pid = st["pid"]
        wait_until(lambda: self.program.log_text().count("STARTED") >= 2, 10, what="a second STARTED line")
        self.assertTrue(os.path.exists(os.path.join(self.program.install, "release-note.txt")))
        with open(os.path.join(self.program.install, ".installed-version-code"), encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), "3")
        self.assertTrue(os.path.exists(os.path.join(self.program.install, "hallBoard.ini")))

        def reported():
            with urllib.request.urlopen(self.demo.gateway + "/demo/last-update-request", timeout=5) as r:
                body = r.read().decode()
            return '"current_version_code":3' in body.replace(" ", "") and body
        wait_until(reported, 40, interval=0.5, what="the next update check to report code 3")
        wait_until(lambda: self.program.page_ready(), 30, what="the page after the update")


if __name__ == "__main__":
    unittest.main()
