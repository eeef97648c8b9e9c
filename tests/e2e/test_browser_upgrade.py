"""The browser upgraded under the running program, as the distribution's package manager does it:
the program notices the replaced executable and takes the new browser at a quiet moment (the map
shown for a while, nobody at the menu), with one log line naming the old and the new version.

The countdown divisor makes the quiet moment's minute three seconds."""

import os
import re
import shutil
import tempfile
import time
import unittest

from harness import Program, wait_until, share_display_and_demo

DIVISOR = 20
QUIET_S = 60 / DIVISOR


share_display_and_demo(globals())


def running(pid):
    """True while pid is a live process (a zombie waiting to be reaped is not)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def write_executable(path, text):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, 0o755)


class BrowserUpgrade(unittest.TestCase):
    def setUp(self):
        DEMO.reset()
        self.program = Program(X, DEMO)
        self.real = next(p for p in ("/usr/lib/chromium/chromium", shutil.which("chromium") or "")
                         if p and os.access(p, os.X_OK))
        self.folder = tempfile.mkdtemp(prefix="hb-upgrade-")
        self.wrapper = os.path.join(self.folder, "chromium")
        write_executable(self.wrapper, f'#!/bin/sh\nexec "{self.real}" "$@"\n')
        self.program.extra_env = {"HALLBOARD_CHROMIUM": self.wrapper,
                                  "HALLBOARD_TEST_TIME_DIVISOR": str(DIVISOR)}

    def tearDown(self):
        self.program.cleanup()
        shutil.rmtree(self.folder, ignore_errors=True)

    def upgrade(self):
        # As a package is installed: the new file beside the old, then renamed over it. The new
        # one leaves a mark when it runs, so the next browser is known to be the new one.
        new = self.wrapper + ".dpkg-new"
        write_executable(new, f'#!/bin/sh\n: > "$0.ran"\nexec "{self.real}" "$@"\n')
        os.rename(new, self.wrapper)

    def test_a_replaced_browser_is_taken_at_a_quiet_moment_not_while_the_menu_is_open(self):
        self.program.start()
        wait_until(lambda: self.program.page_ready("大厅"), 60, what="the map")
        old_pid = self.program.state()["browserPid"]
        X.xdotool("mousemove", 640, 600)
        X.xdotool("click", 3)
        wait_until(lambda: (self.program.state() or {}).get("menuVisible"), 10, what="the menu")

        self.upgrade()
        wait_until(lambda: "已被更换" in self.program.log_text(), 30, what="the replacement noticed")
        # The map has been shown for longer than the quiet moment asks; only the open menu keeps
        # the old browser. It stays through several of the quiet moment's looks.
        end = time.monotonic() + 3 * QUIET_S
        while time.monotonic() < end:
            st = self.program.state()
            self.assertTrue(st["menuVisible"])
            self.assertEqual(st["browserPid"], old_pid)
            time.sleep(0.2)
        self.assertNotIn("浏览器运行库已更新", self.program.log_text())
        self.assertFalse(os.path.exists(self.wrapper + ".ran"))

        X.xdotool("key", "Escape")
        wait_until(lambda: not self.program.state()["menuVisible"], 10, what="the menu to close")
        line = wait_until(lambda: re.search(r"浏览器运行库已更新 (\S+) → (\S+)", self.program.log_text()),
                          60, what="the version line")
        # Both versions as the browsers named themselves.
        for version in line.groups():
            self.assertRegex(version, r"^[A-Za-z]+/\d+(\.\d+)+$")
        wait_until(lambda: self.program.page_ready("大厅"), 60, what="the map under the new browser")
        st = self.program.state()
        self.assertNotEqual(st["browserPid"], old_pid)
        wait_until(lambda: not running(old_pid), 15, what="the old browser to end")
        self.assertTrue(os.path.exists(self.wrapper + ".ran"))
        self.assertEqual(self.program.log_text().count("浏览器运行库已更新"), 1)
        self.assertNotIn("M10", self.program.log_text())


if __name__ == "__main__":
    unittest.main()
