"""Measures what bench/startup.sh reports. The screen is probed through Xlib (two pixels, read
every few milliseconds), the same way for hallBoard and for Chromium alone, so both clocks stop at
the same visible moment."""

import ctypes
import ctypes.util
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
os.environ.setdefault("HB_E2E_BUILD", sys.argv[1] if len(sys.argv) > 1 else "")
import harness  # noqa: E402

harness.BUILD = os.environ["HB_E2E_BUILD"]
BACKGROUND = harness.rgb("#0E4D3A")  # map 1's colour
PROBE_BACKGROUND = (640, 650)
PROBE_PICTURE = (892, 120)           # inside the seat-map media picture


class Screen:
    """Two-pixel reads of the root window through libX11."""

    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.c_void_p
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XGetPixel.restype = ctypes.c_ulong
        self.x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x.XDestroyImage.restype = ctypes.c_int
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.d = self.x.XOpenDisplay(display.encode())
        self.root = self.x.XDefaultRootWindow(self.d)

    def pixel(self, x, y):
        img = self.x.XGetImage(self.d, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            return (0, 0, 0)
        v = self.x.XGetPixel(img, 0, 0)
        # XDestroyImage is a macro around the image's own destroy function; the library exports
        # XDestroyImage as a function too on Debian.
        self.x.XDestroyImage(img)
        return ((v >> 16) & 255, (v >> 8) & 255, v & 255)

    def close(self):
        self.x.XCloseDisplay(self.d)


def near(a, b, tol=8):
    return all(abs(p - q) <= tol for p, q in zip(a, b))


def shown(screen, picture):
    return near(screen.pixel(*PROBE_BACKGROUND), BACKGROUND) and near(screen.pixel(*PROBE_PICTURE), picture)


def time_until_shown(screen, start, picture, limit=60):
    t0 = time.monotonic()
    proc = start()
    while time.monotonic() - t0 < limit:
        if shown(screen, picture):
            return time.monotonic() - t0, proc
        time.sleep(0.004)
    raise RuntimeError("the seat map never appeared")


PHASES = (("navigation starts", "start"), ("response starts", "response"),
          ("DOM interactive", "interactive"), ("load event", "load"), ("on screen", "shown"))


def timed_start(screen, demo, start, picture):
    """Starts one run and returns its phases in ms from the start: the page's own navigation
    timing (sent by the demo page once its pictures are drawn) on the wall clock, and the moment
    the probe saw the map on screen. The page's phases are missing if it sent no report."""
    known = len(demo.reports())
    launched = time.time() * 1000
    t, proc = time_until_shown(screen, start, picture)
    phases = {"shown": t * 1000}
    try:
        r = harness.wait_until(lambda: demo.reports()[known:], 10, interval=0.02,
                               what="the page's timing report")[-1]
        origin = r["origin"] - launched
        phases.update(start=origin, response=origin + r["response"],
                      interactive=origin + r["interactive"], load=origin + r["load"])
    except (AssertionError, KeyError):
        pass
    return phases, proc


def stop(proc):
    proc.terminate()
    try:
        proc.wait(15)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def clear_screen(screen, x):
    # Nothing of the last run may still be on screen when the next clock starts.
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and near(screen.pixel(*PROBE_BACKGROUND), BACKGROUND):
        time.sleep(0.05)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    navigations = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    x = harness.Xvfb()
    demo = harness.Demo()
    screen = Screen(x.display)
    root = tempfile.mkdtemp(prefix="hb-bench-")
    chromium = ("/usr/lib/chromium/chromium" if os.path.exists("/usr/lib/chromium/chromium")
                else shutil.which("chromium"))
    url = demo.cloud + "/seatmap/display?NetBarId=1001&embed=1&m=1"
    try:
        # The seat-map picture's colour, read once from a page shown by Chromium alone.
        def chromium_alone(profile):
            args = [chromium, "--user-data-dir=" + profile, "--app=" + url, "--window-position=0,0",
                    "--window-size=%d,%d" % (x.width, x.height), "--no-first-run",
                    "--no-default-browser-check", "--noerrdialogs", "--disable-infobars",
                    "--password-store=basic", "--disable-background-networking",
                    "--disable-component-update", "--disable-sync", "--disable-quic", "--disable-gpu",
                    "--lang=zh-CN", "--disable-background-timer-throttling",
                    "--disable-renderer-backgrounding", "--autoplay-policy=no-user-gesture-required"]
            if os.geteuid() == 0:
                args += ["--no-sandbox", "--test-type"]
            return subprocess.Popen(args, env=x.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        warm = chromium_alone(os.path.join(root, "warm"))
        harness.wait_until(lambda: near(screen.pixel(*PROBE_BACKGROUND), BACKGROUND), 60, what="Chromium")
        time.sleep(2)
        picture = screen.pixel(*PROBE_PICTURE)
        stop(warm)
        clear_screen(screen, x)

        hb_runs, cr_runs = [], []
        for i in range(reps):
            # Warm profiles for both, as on a display computer that has run before.
            program = harness.Program(x, demo, folder=os.path.join(root, "hb"))
            phases, _ = timed_start(screen, demo, lambda: program.start(wait=False), picture)
            hb_runs.append(phases)
            program.stop()
            clear_screen(screen, x)
            phases, proc = timed_start(screen, demo, lambda: chromium_alone(os.path.join(root, "cr")),
                                       picture)
            cr_runs.append(phases)
            stop(proc)
            clear_screen(screen, x)
        hb_times = [r["shown"] for r in hb_runs]
        cr_times = [r["shown"] for r in cr_runs]
        hb, cr = statistics.median(hb_times), statistics.median(cr_times)
        print("start to seat map on screen, median of %d (min..max):" % reps)
        print("  hallBoard       %6.0f ms  (%.0f..%.0f)" % (hb, min(hb_times), max(hb_times)))
        print("  Chromium alone  %6.0f ms  (%.0f..%.0f)" % (cr, min(cr_times), max(cr_times)))
        print("  ratio           %6.2f x  (goal: at most 1.20 x)" % (hb / cr))
        # Where the time goes: the same runs, each phase's median over the runs that have it.
        def median_of(runs, key):
            values = [r[key] for r in runs if key in r]
            return "%.0f" % statistics.median(values) if values else "-"
        print("  where the time goes (median ms from the start):  hallBoard  Chromium alone")
        for label, key in PHASES:
            print("    %-46s %9s %15s" % (label, median_of(hb_runs, key), median_of(cr_runs, key)))

        program = harness.Program(x, demo, folder=os.path.join(root, "hb"))
        program.start()
        harness.wait_until(lambda: program.page_ready(), 60, what="the first page")
        first = rss_kib(program.proc.pid)
        for n in range(navigations):
            program.eval("window.__old=1;location.reload();1")
            harness.wait_until(lambda: program.eval(
                "typeof window.__old==='undefined'&&document.title.endsWith('ready')"), 30,
                interval=0.01, what="reload %d" % n)
        after = rss_kib(program.proc.pid)
        program.stop()
        print("hallBoard resident memory (without the browser):")
        print("  after the first page      %7d KiB" % first)
        print("  after %4d more pages      %7d KiB  (%+d KiB, %+.1f%%)"
              % (navigations, after, after - first, 100.0 * (after - first) / first))
    finally:
        screen.close()
        demo.stop()
        x.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
