"""The kiosk stays locked down and keeps going: every start, also on a machine whose other core is
busy, opens the page only with the program's page scripts in place."""

import os
import subprocess
import unittest

from harness import Demo, Program, Xvfb, wait_until

X = DEMO = None

# True in every slot only when all of the program's document scripts ran in the page: the page
# script's cursor switch, the bridge binding and its postMessage, the page script's selection
# guard and the drag-and-reload script's drag guard (both cancel their events).
SCRIPTS_RAN = (
    "(function(){var d=document;function cancelled(t){var e=new Event(t,{bubbles:true,"
    "cancelable:true});d.body.dispatchEvent(e);return e.defaultPrevented;}"
    "return [typeof window.__hbHideCursor==='boolean',typeof window.__hbHostPost==='function',"
    "!!(window.chrome&&window.chrome.webview&&window.chrome.webview.postMessage),"
    "cancelled('selectstart'),cancelled('dragstart')];})()")


def setUpModule():
    global X, DEMO
    X = Xvfb()
    DEMO = Demo()


def tearDownModule():
    DEMO.stop()
    X.stop()


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

    def test_every_start_opens_the_page_with_its_scripts(self):
        with BusyCore():
            for i in range(self.STARTS):
                DEMO.reset()
                program = Program(X, DEMO)
                try:
                    program.start()
                    wait_until(lambda: program.page_ready("大厅"), 60,
                               what="the page, start %d" % (i + 1))
                    self.assertEqual(program.eval(SCRIPTS_RAN), [True] * 5, "start %d" % (i + 1))
                    self.assertNotIn("[M10", program.log_text(), "start %d" % (i + 1))
                finally:
                    program.cleanup()


if __name__ == "__main__":
    unittest.main()
