"""What `bench/cache_memory.sh hostile` runs: the real program with real Chromium under Xvfb against
the demo servers, first through a normal gateway, then through a hostile one that answers every
cacheable request with the largest body the program takes (the demo's cache=maximal: 12 MiB, and
32 MiB for seat-map media).

  1. baseline: the page loads through the normal gateway, RELOADS reloads, each waited for until
     the page says it is done; then SETTLE seconds of rest; the resident size then is the baseline;
  2. hostile: the same reloads with the hostile gateway (the page then says "failed": such bodies
     are no pictures); SETTLE seconds after the last one has finished, the resident size is taken.

The program's own resident size (VmRSS of the hallBoard process, not the browser's) is sampled
all along; the peak is the largest sample of the hostile part, cross-checked with the kernel's
high-water mark (VmHWM). It prints the three figures with their bounds (after: baseline + budget;
peak: baseline + 3 x budget), writes the samples to cache_memory.csv and plots them into
cache_memory.png in OUT.

  python3 bench/cache_memory_probe.py BUILD [RELOADS] [SETTLE] [OUT]
"""

import csv
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
os.environ.setdefault("HB_E2E_BUILD", sys.argv[1] if len(sys.argv) > 1 else "")
import harness  # noqa: E402
from harness import wait_until  # noqa: E402

harness.BUILD = os.environ["HB_E2E_BUILD"]
BUDGET_MIB = 64  # the gateway cache's budget for bodies in flight (kCacheMemoryBudget)
SAMPLE_S = 0.1


def status_kib(pid, name):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return 0


class Sampler(threading.Thread):
    """Records (seconds, phase, VmRSS KiB) of one process every SAMPLE_S seconds."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.phase, self.rows = pid, "start", []
        self.started = time.monotonic()
        self.halt = threading.Event()

    def run(self):
        while not self.halt.is_set():
            try:
                rss = status_kib(self.pid, "VmRSS")
            except OSError:
                return
            self.rows.append((round(time.monotonic() - self.started, 2), self.phase, rss))
            self.halt.wait(SAMPLE_S)

    def now(self):
        return status_kib(self.pid, "VmRSS")

    def peak(self, phase):
        return max((r[2] for r in self.rows if r[1] == phase), default=0)


def finished(program):
    """The page's own verdict once it has loaded or failed (None while it is still loading)."""
    st = program.state()
    if not st or st.get("cover"):
        return None
    title = program.eval("document.title")
    if title.endswith("- ready"):
        return "ready"
    if title.endswith("- failed"):
        return "failed"
    return None


def reload(program, timeout=180):
    program.eval("document.title='reloading';setTimeout(function(){location.reload();},10);1")
    return wait_until(lambda: finished(program), timeout, interval=0.1, what="the page to finish")


def plot(csv_path, png_path, baseline, reloads):
    b = baseline / 1024.0
    script = """
set terminal pngcairo size 1200,600 font "sans,10"
set output '%(png)s'
set datafile separator ','
set datafile missing ''
set title "hallBoard's resident memory: the first page and %(reloads)d reloads, then 30 s of rest"
set xlabel 'seconds since the program started'
set ylabel 'MiB'
set grid
set yrange [0:*]
set key left top
plot '%(csv)s' using 1:($3/1024) every ::1 with lines lw 2 title 'normal gateway', \\
     '%(csv)s' using 1:($4/1024) every ::1 with lines lw 2 title 'hostile gateway (every cacheable answer at its maximum)', \\
     %(b).1f with lines dt 2 lc rgb 'gray40' title 'baseline %(b).0f MiB', \\
     %(a).1f with lines dt 3 lc rgb 'dark-green' title 'bound 30 s after: baseline + %(budget)d MiB', \\
     %(p).1f with lines dt 3 lc rgb 'red' title 'bound for the peak: baseline + 3 x %(budget)d MiB'
""" % {"png": png_path, "csv": csv_path, "reloads": reloads, "b": b, "a": b + BUDGET_MIB,
       "p": b + 3 * BUDGET_MIB, "budget": BUDGET_MIB}
    subprocess.run(["gnuplot"], input=script.encode(), check=True)


def run(x, demo, root, name, reloads, settle):
    """One fresh program (its own folder and browser profile, so nothing comes from the browser's
    cache): the first page, RELOADS reloads, SETTLE seconds of rest. Returns the sampler, the
    page's verdicts and the resident size at the end."""
    program = harness.Program(x, demo, folder=os.path.join(root, name))
    sampler = None
    try:
        program.start()
        sampler = Sampler(program.proc.pid)
        sampler.phase = name
        sampler.start()
        outcomes = [wait_until(lambda: finished(program), 180, interval=0.1, what="the first page")]
        outcomes += [reload(program) for _ in range(reloads)]
        sampler.phase = name + "-rest"
        time.sleep(settle)
        end = sampler.now()
        sampler.hwm = status_kib(program.proc.pid, "VmHWM")
        sampler.threads = status_kib(program.proc.pid, "Threads")
        if not program.running():
            raise RuntimeError("the program ended during the benchmark")
    finally:
        if sampler:
            sampler.halt.set()
            sampler.join()
        program.cleanup()
    return sampler, outcomes, end


def main():
    reloads = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    settle = float(sys.argv[3]) if len(sys.argv) > 3 else 30.0
    out_dir = sys.argv[4] if len(sys.argv) > 4 else "."
    os.makedirs(out_dir, exist_ok=True)
    csv_path = os.path.join(out_dir, "cache_memory.csv")
    png_path = os.path.join(out_dir, "cache_memory.png")
    x = harness.Xvfb()
    demo = harness.Demo()
    root = tempfile.mkdtemp(prefix="hb-cache-memory-")
    try:
        normal, normal_outcomes, baseline = run(x, demo, root, "normal", reloads, settle)
        if any(o != "ready" for o in normal_outcomes):
            raise RuntimeError("the page failed through the normal gateway: %s" % normal_outcomes)
        demo.fault(cache="maximal")
        demo.reset_stats("gateway")
        hostile, outcomes, after = run(x, demo, root, "hostile", reloads, settle)
        asked = sum(demo.stats("gateway").get("cache_requested", {}).values())
    finally:
        demo.stop()
        x.stop()
        shutil.rmtree(root, ignore_errors=True)
    with open(csv_path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["seconds", "phase", "normal_rss_kib", "hostile_rss_kib"])
        w.writerows((t, p, r, "") for t, p, r in normal.rows)
        w.writerows((t, p, "", r) for t, p, r in hostile.rows)

    peak = max(hostile.peak("hostile"), hostile.peak("hostile-rest"))
    mib = lambda kib: kib / 1024.0  # noqa: E731
    print("hostile run: page %s; %d maximal answers asked of the gateway; %d threads left"
          % (", ".join(outcomes), asked, hostile.threads))
    print("baseline (normal gateway, %.0f s after the last reload): %4.0f MiB" % (settle, mib(baseline)))
    ok_after = after <= baseline + BUDGET_MIB * 1024
    ok_peak = peak <= baseline + 3 * BUDGET_MIB * 1024
    print("after    (hostile gateway, %.0f s after the last reload): %4.0f MiB  (bound %.0f MiB: %s)"
          % (settle, mib(after), mib(baseline) + BUDGET_MIB, "met" if ok_after else "MISSED"))
    print("peak     (hostile gateway, sampled every %.1f s):          %4.0f MiB  (bound %.0f MiB: %s;"
          " kernel high-water mark %.0f MiB)"
          % (SAMPLE_S, mib(peak), mib(baseline) + 3 * BUDGET_MIB, "met" if ok_peak else "MISSED",
             mib(hostile.hwm)))
    plot(csv_path, png_path, baseline, reloads)
    print("csv:  %s\nplot: %s" % (os.path.abspath(csv_path), os.path.abspath(png_path)))
    return 0 if ok_after and ok_peak else 1


if __name__ == "__main__":
    sys.exit(main())
