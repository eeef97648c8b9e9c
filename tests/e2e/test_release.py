"""A release as a store installs it (scripts/release-check makes one and runs these): the Linux
program out of the .deb, in the place the package puts it, shows the demo's map; and the signed
update package is installed by an older program's own update flow through the demo gateway."""

import glob
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from harness import end_process, Demo, Program, Xvfb, wait_until

DIST = os.environ.get("HB_RELEASE_DIST", "")
# A program built from the same source and key with a lower version code: the one to update.
OLD_PROGRAM = os.environ.get("HB_RELEASE_OLD_PROGRAM", "")


def only(pattern):
    found = glob.glob(os.path.join(DIST, pattern))
    if len(found) != 1:
        raise AssertionError("want one %s in %s, found %r" % (pattern, DIST, found))
    return found[0]


@unittest.skipUnless(DIST, "no release to check (scripts/release-check sets HB_RELEASE_DIST)")
class Release(unittest.TestCase):
    def setUp(self):
        self.x = Xvfb()
        self.demo = Demo()
        self.work = tempfile.mkdtemp(prefix="hb-e2e-store-")
        self.program = None
        self.restarted_pid = None

    def tearDown(self):
        end_process(self.restarted_pid, "the restarted program")
        if self.program:
            self.program.cleanup()
        self.demo.stop()
        self.x.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def test_the_debian_package_program_shows_the_map(self):
        root = os.path.join(self.work, "root")
        subprocess.run(["dpkg-deb", "-x", only("hallboard_*_amd64.deb"), root], check=True)
        lib = os.path.join(root, "usr/lib/hallboard")
        # The package's settings link points at /etc; in this scratch root it points at the
        # scratch root's /etc, where the harness writes the demo's settings through it.
        link = os.path.join(lib, "hallBoard.ini")
        self.assertEqual(os.readlink(link), "/etc/hallboard/hallBoard.ini")
        os.remove(link)
        os.symlink(os.path.join(root, "etc/hallboard/hallBoard.ini"), link)
        with open(os.path.join(root, "usr/lib/systemd/user/hallBoard.service"), encoding="utf-8") as f:
            unit = f.read()
        self.assertIn("\nExecStart=/usr/lib/hallboard/hallBoard\n", unit)
        self.assertTrue(os.path.exists(os.path.join(root, "etc/xdg/autostart/hallboard.desktop")))

        self.program = Program(self.x, self.demo, folder=self.work, install=lib)
        self.program.start()
        wait_until(lambda: self.program.page_ready(), 60, what="the map from the packaged program")
        with open(os.path.join(root, "etc/hallboard/hallBoard.ini"), encoding="utf-8") as f:
            self.assertIn("Port=%d" % self.demo.gateway_port, f.read())

    @unittest.skipUnless(OLD_PROGRAM, "no older program to update (HB_RELEASE_OLD_PROGRAM)")
    def test_the_update_package_is_installed_by_the_programs_own_update_flow(self):
        package = only("HallBoard-*.zip")
        with open(os.path.join(DIST, "SHA256SUMS"), encoding="utf-8") as f:
            self.assertIn(os.path.basename(package), f.read())
        name = os.path.basename(package)[len("HallBoard-"):-len(".zip")]
        version = name.split("-")[0]
        # The release's version code is in its signed manifest; the gateway offers exactly that.
        code = json.loads(subprocess.run(["unzip", "-p", package, "update-manifest.json"], check=True,
                                         capture_output=True, text=True).stdout)["version_code"]
        self.demo.release(path=package, version_code=code, version=version)

        self.program = Program(self.x, self.demo, folder=self.work, program=OLD_PROGRAM)
        self.program.start()
        first_pid = self.program.state()["pid"]
        wait_until(lambda: self.program.proc.poll() is not None, 90, interval=0.5,
                   what="the program to end for its installer")
        self.assertEqual(self.program.proc.returncode, 0)
        st = wait_until(lambda: (self.program.state() or {}).get("pid") not in (None, first_pid)
                        and self.program.state(), 60, interval=0.5, what="the program to start again")
        self.restarted_pid = st["pid"]
        log = self.program.log_text()
        self.assertIn("UPDATE_RESTART", log)
        with open(os.path.join(self.program.install, ".installed-version-code"), encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), str(code))
        # The installed program is the release's: the very bytes of the .deb's program.
        root = os.path.join(self.work, "deb")
        subprocess.run(["dpkg-deb", "-x", only("hallboard_*_amd64.deb"), root], check=True)
        with open(os.path.join(root, "usr/lib/hallboard/hallBoard"), "rb") as a, \
                open(self.program.exe, "rb") as b:
            self.assertTrue(a.read() == b.read(), "the installed hallBoard is not the release's")
        wait_until(lambda: ("STARTED 机位图 %s (%d)" % (version, code)) in self.program.log_text(), 20,
                   what="the new program's STARTED line with version %s (%d)" % (version, code))
        wait_until(lambda: self.program.page_ready(), 40, what="the page after the update")


if __name__ == "__main__":
    unittest.main()
