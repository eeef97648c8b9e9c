"""Measures what bench/cache.sh reports: the seat-map page through the gateway cache against the
cloud directly, with the real program and Chromium under Xvfb and the demo servers.

The clock is the page's own: the demo page tells the demo cloud (POST /demo/report) how many
milliseconds passed from the navigation's start to its load event and to the moment every picture
was decoded and the next frame drawn. The DevTools pipe belongs to the program, so the page is the
one observer that sees the same moments in every arrangement. The bytes are those the demo cloud
counted as sent (response bodies), reset before each run.

Each run starts the program with a fresh folder (so a cold browser cache: the browser's own cache
would otherwise hide both the gateway and the cloud) on the demo's "light" page (no pictures, only
the catalogue version, which goes through the cache), then switches the demo to the full page and
reloads; that second load is measured. Arrangements:
  (a) gateway cache warm: the gateway is up and already holds every picture;
  (b) gateway down: the light page's one cache fetch failed, so the cache is paused, and the
      pictures come from the cloud (ServerUrl and NetBarId given by hand, since the gateway cannot
      say);
  (c) no gateway cache: no gateway host, ServerUrl and NetBarId given by hand;
and, for what a dead gateway costs before the pause, (b0): gateway down, the full page as the
first load, so the pause begins during the measured load.
The arrangements alternate within each repetition so that the machine's load falls on all alike.
"""

import json
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
os.environ.setdefault("HB_E2E_BUILD", sys.argv[1] if len(sys.argv) > 1 else "")
import harness  # noqa: E402

harness.BUILD = os.environ["HB_E2E_BUILD"]

CACHEABLE = ("/assets/", "/product-image/", "/shop/netfee-image/", "/shop/news-image/", "/avatar/",
             "/shop/game-icon/", "/brand-logo", "/site-logo", "/shop/catalog-version", "/seatmap/5f2c")
LINES = [("no added latency", 0, 0), ("80 ms + 20 Mbit/s", 80, 20000)]
MODES = [("a", "gateway cache warm"), ("b", "gateway down, paused"), ("c", "no gateway cache"),
         ("b0", "gateway down, 1st load")]


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def write_ini(program, demo, mode):
    gateway = "" if mode == "c" else "127.0.0.1"
    mode = mode[0]
    server, netbar = ("", "") if mode == "a" else (demo.cloud, "1001")
    with open(os.path.join(program.install, "hallBoard.ini"), "w", encoding="utf-8") as f:
        f.write("[Gateway]\nAddress=%s\nPort=%d\n[Display]\nMap=\nMonitor=1\nHideCursor=1\n"
                "[Advanced]\nServerUrl=%s\nNetBarId=%s\n" % (gateway, demo.gateway_port, server, netbar))


def cpu_ms(pid):
    """User plus system CPU time of one process so far, in milliseconds."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) * 1000.0 / os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return 0.0


TIMEOUT = 45


def next_report(demo, before, what):
    return harness.wait_until(lambda: demo.reports()[before:], TIMEOUT, interval=0.05,
                              what="the page's timing report (%s)" % what)[0]


def reset_stats(demo, mode):
    for base in (demo.cloud, demo.gateway if not mode.startswith("b") else None):
        if base:
            demo._call(base + "/demo/stats/reset", {})


def one_run(x, demo, root, mode, n):
    demo.fault(gateway="down" if mode.startswith("b") else "ok", page="ok" if mode == "b0" else "light")
    reset_stats(demo, mode)
    before = len(demo.reports())
    program = harness.Program(x, demo, folder=os.path.join(root, "run-%s-%d" % (mode, n)))
    write_ini(program, demo, mode)
    program.start(wait=mode != "b0")
    try:
        if mode != "b0":
            light = next_report(demo, before, mode + " light")
            if light.get("images") != 0:
                raise RuntimeError("expected the light page first: %r" % light)
            demo.fault(page="ok")
            reset_stats(demo, mode)
            before = len(demo.reports())
        cpu0 = cpu_ms(program.proc.pid)
        if mode != "b0":
            program.eval("setTimeout(function(){location.reload();},10);1")
        report = next_report(demo, before, mode)
        cpu = cpu_ms(program.proc.pid) - cpu0
        if report.get("state") != "ready":
            raise RuntimeError("the page did not load everything in (%s): %r" % (mode, report))
        stats = demo.stats("cloud")
        sent = stats.get("sent", {})
        cacheable = sum(v for k, v in sent.items() if k.startswith(CACHEABLE))
        served = 0
        if not mode.startswith("b"):
            served = sum(demo.stats("gateway").get("cache_served", {}).values())
        return {"drawn": report["drawn"], "load": report["load"], "bytes": stats.get("bytes_sent", 0),
                "cacheable": cacheable, "served": served, "images": report.get("images"), "cpu": cpu,
                "last": report.get("last")}
    except AssertionError:
        # A run that never shows the page is reported with what the program said, then repeated.
        sys.stderr.write("run %s %d failed; program state %r; log:\n%s\n"
                         % (mode, n, program.state(), program.log_text()[-2000:]))
        raise
    finally:
        program.stop()
        shutil.rmtree(program.root, ignore_errors=True)


FAILED = []



def run(x, demo, root, mode, n):
    for attempt in range(3):
        try:
            return one_run(x, demo, root, mode, n)
        except AssertionError as e:
            FAILED.append("%s/%d: %s" % (mode, n, e))
    raise RuntimeError("three runs in a row failed")


def main():
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    # HB_CACHE_BENCH_LINES=0 or =1 runs only that line (while looking into one figure).
    pick = os.environ.get("HB_CACHE_BENCH_LINES")
    lines = [LINES[int(i)][0] for i in pick.split(",")] if pick else [l[0] for l in LINES]
    print("load average at the start: %s (2 cores, shared)" % loadavg())
    x = harness.Xvfb()
    demo = harness.Demo()
    root = tempfile.mkdtemp(prefix="hb-cache-bench-")
    results = {}
    try:
        demo._call(demo.gateway + "/demo/cache/clear", {})
        # Warm-up, not counted: fills the gateway's cache and the disk cache of the binaries.
        for mode, _ in MODES:
            run(x, demo, root, mode, -1)
        for line, latency, rate in LINES:
            if line not in lines:
                continue
            demo.fault(**{"cloud-latency-ms": latency, "cloud-rate-kbps": rate})
            for n in range(reps):
                for mode, _ in MODES:
                    results.setdefault((line, mode), []).append(run(x, demo, root, mode, n))
        demo.fault(**{"cloud-latency-ms": 0, "cloud-rate-kbps": 0}, page="ok", gateway="ok")
    finally:
        demo.stop()
        x.stop()
        shutil.rmtree(root, ignore_errors=True)

    print("load average at the end:   %s" % loadavg())
    print("navigation to load event with every picture drawn, median of %d (min..max); bytes the "
          "cloud sent (median), of them cacheable" % reps)
    summary = {}
    for line, latency, rate in LINES:
        if line not in lines:
            continue
        print("\n%s" % line)
        for mode, name in MODES:
            rs = results[(line, mode)]
            drawn = [r["drawn"] for r in rs]
            med = statistics.median(drawn)
            summary[(line, mode)] = med
            print("  (%-2s) %-22s %7.0f ms (%5.0f..%5.0f)  load %6.0f ms  cloud sent %9d B, cacheable %9d B"
                  "  gateway served %d  hallBoard CPU %.0f ms"
                  % (mode, name, med, min(drawn), max(drawn),
                     statistics.median([r["load"] for r in rs]),
                     statistics.median([r["bytes"] for r in rs]),
                     statistics.median([r["cacheable"] for r in rs]),
                     statistics.median([r["served"] for r in rs]),
                     statistics.median([r["cpu"] for r in rs])))
        a, b, c, b0 = (summary[(line, m)] for m in ("a", "b", "c", "b0"))
        goal_a = 0.5 if latency else 1.1
        print("  (a)/(c) = %.2f x  (goal: at most %.1f x)  %s" % (a / c, goal_a, "met" if a / c <= goal_a else "MISSED"))
        print("  (b)/(c) = %.2f x  (goal: at most 1.1 x)  %s" % (b / c, "met" if b / c <= 1.1 else "MISSED"))
        print("  (b0)/(c) = %.2f x  (no goal: the load during which the pause begins)" % (b0 / c))
    print(json.dumps({"%s/%s" % k: v for k, v in summary.items()}))
    if FAILED:
        print("runs repeated because the page never reported (%d): %s" % (len(FAILED), "; ".join(FAILED)))


if __name__ == "__main__":
    main()
