#!/usr/bin/env bash
# The gateway cache's worth, in one run on this machine: the seat-map page (about 2 MB of
# pictures) from navigation to its load event with every picture drawn, and the bytes the cloud
# sent, three ways: (a) gateway cache warm, (b) gateway down (the cache pauses; the cloud serves),
# (c) no gateway cache (ServerUrl and NetBarId by hand). Once on loopback as it is, once with the
# demo cloud behind 80 ms and 20 Mbit/s. Real program, real Chromium, Xvfb; medians of REPS runs.
# Builds hallBoard and hallboard-demo in build/lin-bench (Release). Usage: bench/cache.sh [REPS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/lin-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 hallBoard hallboard-demo >/dev/null
exec python3 "$top/bench/cache_probe.py" "$build" "${1:-5}"
