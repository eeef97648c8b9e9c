"""What bench/soak.sh runs: the real program with real Chromium under Xvfb against the demo servers,
for CYCLES cycles of what a display meets over weeks, with its waits shortened through the
test-only HALLBOARD_TEST_TIME_DIVISOR (the cover's countdown and the cache's pauses).

One cycle:
  1. cloud outage and recovery: the cloud goes down, the page is reloaded, the cover says so and
     counts down; the cloud comes back and the countdown brings the page back;
  2. gateway restart: the gateway goes down, a reload (the cache pauses, the cloud serves), the
     gateway comes back;
  3. a 429 pause: the gateway answers "busy", a reload, the gateway recovers;
  4. a renderer crash: the cover, then the page again;
  5. a map switch from the menu (right-click, arrow keys, Enter), alternating two maps;
  6. a reload.
Every SAMPLE cycles it records the program's resident memory, the browser's total resident
memory (every process under the browser), the program's open descriptors and threads and the
log's size, into a CSV, and at the end plots them into a PNG with gnuplot.
"""

import csv
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
from harness import wait_until  # noqa: E402

harness.BUILD = os.environ["HB_E2E_BUILD"]
DIVISOR = 60  # 30 s countdown -> 0.5 s; cache pauses 30 s / 60 s -> 0.5 s / 1 s
MAPS = ["大厅", "包间区"]
FIELDS = ["cycle", "seconds", "program_rss_kib", "browser_rss_kib", "browser_processes",
          "program_fds", "program_threads", "log_bytes", "log_bytes_per_cycle"]


def status_field(pid, name):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return 0


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    out, todo = [], [root]
    while todo:
        pid = todo.pop()
        out.append(pid)
        todo.extend(children.get(pid, []))
    return out


def browser_rss(pid):
    total = count = 0
    for p in descendants(pid):
        try:
            total += status_field(p, "VmRSS")
            count += 1
        except OSError:
            pass
    return total, count


def log_bytes(program):
    total = 0
    for folder in (os.path.join(program.install, "logs"), os.path.join(program.appdata, "hallBoard", "logs")):
        if os.path.isdir(folder):
            total += sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))
    return total


class Soak:
    def __init__(self, x, demo, program):
        self.x, self.demo, self.program = x, demo, program
        self.map = 0

    def ready(self, timeout=60):
        name = MAPS[self.map]
        wait_until(lambda: self.program.page_ready(name), timeout, interval=0.05,
                   what="the %s page" % name)

    def reload(self):
        self.program.eval("document.title='reloading';setTimeout(function(){location.reload();},10);1")
        self.ready()

    def cover(self, timeout=30):
        return wait_until(lambda: (self.program.state() or {}).get("cover") and self.program.state(),
                          timeout, interval=0.05, what="the cover")

    def cloud_outage(self):
        self.demo.fault(cloud="down")
        # Connections the browser already holds are served until the demo's keep-alive (2 s) ends.
        wait_until(lambda: not reachable(self.demo.cloud), 10, interval=0.05, what="the cloud to go down")
        time.sleep(2.2)
        self.program.eval("setTimeout(function(){location.reload();},10);1")
        st = self.cover()
        if st["title"] != "连不上云端":
            raise RuntimeError("unexpected cover during the outage: %r" % st)
        self.demo.fault(cloud="ok")
        self.ready()

    def gateway_restart(self):
        self.demo.fault(gateway="down")
        self.reload()
        self.demo.fault(gateway="ok")

    def busy_gateway(self):
        self.demo.fault(cache="429")
        self.reload()
        self.demo.fault(cache="ok")

    def renderer_crash(self):
        self.program.command("crash")
        self.cover()
        self.ready()

    def menu_switch(self):
        target = MAPS[1 - self.map]
        for attempt in range(5):
            self.x.xdotool("mousemove", 640, 600)
            self.x.xdotool("click", 3)
            try:
                wait_until(lambda: (self.program.state() or {}).get("menuVisible"), 3, interval=0.05,
                           what="the menu")
                break
            except AssertionError:
                if attempt == 4:
                    raise
        for _ in range(12):
            st = self.program.state()
            if st["menuHot"] >= 0 and st["menuEntries"][st["menuHot"]] == target:
                break
            self.x.xdotool("key", "Down")
            time.sleep(0.05)
        self.x.xdotool("key", "Return")
        self.map = 1 - self.map
        self.ready()

    def cycle(self):
        self.cloud_outage()
        self.gateway_restart()
        self.busy_gateway()
        self.renderer_crash()
        self.menu_switch()
        self.reload()


def reachable(base):
    import urllib.request
    try:
        urllib.request.urlopen(base + "/demo/stats", timeout=3).read()
        return True
    except OSError:
        return False


def plot(csv_path, png_path, title):
    script = """
set terminal pngcairo size 1200,900 font "sans,10"
set output '%(png)s'
set datafile separator ','
set key autotitle columnhead
set multiplot layout 3,2 title '%(title)s'
set xlabel 'cycle'
set grid
set yrange [0:*]
set title 'hallBoard resident memory (KiB)'
plot '%(csv)s' using 1:3 with linespoints notitle
set title 'browser resident memory, all processes (KiB)'
plot '%(csv)s' using 1:4 with linespoints notitle
set title 'hallBoard open descriptors'
plot '%(csv)s' using 1:6 with linespoints notitle
set title 'hallBoard threads'
plot '%(csv)s' using 1:7 with linespoints notitle
set title 'log bytes per cycle'
plot '%(csv)s' using 1:9 with linespoints notitle
set title 'browser processes'
plot '%(csv)s' using 1:5 with linespoints notitle
unset multiplot
""" % {"png": png_path, "csv": csv_path, "title": title}
    subprocess.run(["gnuplot"], input=script.encode(), check=True)


def main():
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    sample = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    out_dir = sys.argv[4] if len(sys.argv) > 4 else "."
    os.makedirs(out_dir, exist_ok=True)
    csv_path = os.path.join(out_dir, "soak.csv")
    png_path = os.path.join(out_dir, "soak.png")
    with open("/proc/loadavg") as f:
        print("load average at the start: %s" % " ".join(f.read().split()[:3]), flush=True)
    x = harness.Xvfb()
    demo = harness.Demo()
    root = tempfile.mkdtemp(prefix="hb-soak-")
    program = harness.Program(x, demo, folder=os.path.join(root, "hb"))
    program.extra_env = {"HALLBOARD_TEST_TIME_DIVISOR": str(DIVISOR)}
    rows = []
    started = time.monotonic()
    try:
        program.start()
        soak = Soak(x, demo, program)
        soak.ready()
        if "TEST_TIMERS" not in program.log_text():
            raise RuntimeError("this build does not shorten its waits (a release build?)")
        last_log = log_bytes(program)
        for n in range(cycles + 1):
            if n:
                soak.cycle()
            if n % sample == 0:
                pid = program.proc.pid
                st = program.state()
                brss, bcount = browser_rss(st["browserPid"])
                logb = log_bytes(program)
                row = {"cycle": n, "seconds": round(time.monotonic() - started, 1),
                       "program_rss_kib": status_field(pid, "VmRSS"), "browser_rss_kib": brss,
                       "browser_processes": bcount, "program_fds": len(os.listdir("/proc/%d/fd" % pid)),
                       "program_threads": status_field(pid, "Threads"), "log_bytes": logb,
                       "log_bytes_per_cycle": round((logb - last_log) / sample, 1) if n else 0}
                last_log = logb
                rows.append(row)
                print(" ".join("%s=%s" % (k, row[k]) for k in FIELDS), flush=True)
        if not program.running():
            raise RuntimeError("the program ended during the soak")
    finally:
        program.cleanup()
        demo.stop()
        x.stop()
        shutil.rmtree(root, ignore_errors=True)
        if rows:
            with open(csv_path, "w", newline="") as f:
                w = csv.DictWriter(f, fieldnames=FIELDS)
                w.writeheader()
                w.writerows(rows)

    elapsed = time.monotonic() - started
    with open("/proc/loadavg") as f:
        print("load average at the end: %s" % " ".join(f.read().split()[:3]))
    print("%d cycles in %.0f s (%.1f s per cycle)" % (cycles, elapsed, elapsed / max(cycles, 1)))
    # Warm-up: the first fifth of the run (at least one sample) is left out of the flatness figures.
    warm = [r for r in rows if r["cycle"] >= max(cycles // 5, sample)]
    if len(warm) >= 2:
        first, last = warm[0], warm[-1]
        for key, goal in (("program_rss_kib", 5.0), ("browser_rss_kib", None), ("program_fds", None),
                          ("program_threads", None)):
            vals = [r[key] for r in warm]
            change = 100.0 * (last[key] - first[key]) / first[key] if first[key] else 0.0
            spread = 100.0 * (max(vals) - min(vals)) / first[key] if first[key] else 0.0
            print("  %-16s after warm-up: %d -> %d (%+.1f%%; range %d..%d, %.1f%% of the first)%s"
                  % (key, first[key], last[key], change, min(vals), max(vals), spread,
                     "  goal within %.0f%%: %s" % (goal, "met" if abs(change) <= goal else "MISSED")
                     if goal else ""))
        per = [r["log_bytes_per_cycle"] for r in warm[1:]]
        if per:
            print("  log bytes per cycle after warm-up: median %.0f (range %.0f..%.0f)"
                  % (statistics.median(per), min(per), max(per)))
    plot(csv_path, png_path, "hallBoard soak: %d cycles, %.0f min" % (cycles, elapsed / 60))
    print("csv:  %s\nplot: %s" % (os.path.abspath(csv_path), os.path.abspath(png_path)))


if __name__ == "__main__":
    main()
