"""The kiosk stays locked down and keeps going: every start, also on a machine whose other core is
busy, opens the page only with the program's page scripts in place."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import SCRIPTS_RAN, Program, wait_until, share_display_and_demo


share_display_and_demo(globals())


class BusyCore:
    """A shell busy loop on one core for as long as the block runs."""

    def __enter__(self):
        self.proc = subprocess.Popen(["sh", "-c", "while :; do :; done"])
        return self

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait()


class StartUnderLoad(unittest.TestCase):
    STARTS = 12

    def check_starts(self, folder=None):
        """Starts the program STARTS times with one core busy; with a folder, every start after
        the first finds the profile and the map page of the one before."""
        with BusyCore():
            for i in range(self.STARTS):
                DEMO.reset()
                program = Program(X, DEMO, folder=folder)
                try:
                    program.start()
                    wait_until(lambda: program.page_ready("大厅"), 60,
                               what="the page, start %d" % (i + 1))
                    self.assertEqual(program.eval(SCRIPTS_RAN), [True] * 5, "start %d" % (i + 1))
                    # The window's own navigation, never the start page it may have opened on.
                    self.assertEqual(program.eval("location.hash"), "", "start %d" % (i + 1))
                    self.assertNotIn("[M10", program.log_text(), "start %d" % (i + 1))
                finally:
                    if folder:
                        program.stop()
                    else:
                        program.cleanup()

    def test_every_start_opens_the_page_with_its_scripts(self):
        self.check_starts()

    def test_every_start_on_the_last_map_opens_the_page_with_its_scripts(self):
        folder = tempfile.mkdtemp(prefix="hb-e2e-")
        try:
            self.check_starts(folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
