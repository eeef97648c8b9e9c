#!/bin/sh
# Memory of the gateway cache against a gateway that answers every cacheable request with the
# largest body it may (12 MiB; 32 MiB for seat-map media). Two modes:
#
#   bench/cache_memory.sh hostile [RELOADS] [OUT]
#     The whole program: the Linux hallBoard with Chromium under Xvfb, on the demo page, first
#     through the normal demo gateway, then (a fresh start) through the demo gateway's
#     cache=maximal; each time the first page, RELOADS reloads (default 5) and 30 s of rest.
#     Prints the baseline (normal gateway, 30 s after), the resident size 30 s after the hostile
#     reloads and the hostile peak, each with its bound (baseline + 64 MiB, baseline + 3 x 64
#     MiB), and plots the program's resident size over time into OUT/cache_memory.png (default
#     OUT build/lin-bench/cache-memory). Exits 1 when a bound is missed. Builds hallBoard and
#     hallboard-demo in build/lin-bench (Release). The plot needs gnuplot (Debian gnuplot-nox),
#     which scripts/test does not: installed here with apt-get when missing and allowed (root).
#
#   bench/cache_memory.sh [handler] [RELOADS] [REQUESTS]
#     The cache handler alone, in process, with its budget and memory trimming against the same
#     handler with neither (default 5 reloads of 24 requests; build folder
#     build/bench-cache-memory, Release). Each line gives the process's peak resident size and its
#     resident size after the reloads; /usr/bin/time -v adds its own "Maximum resident set size".
set -eu
cd "$(dirname "$0")/.."

if [ "${1:-}" = hostile ]; then
  BUILD=${HB_BENCH_BUILD:-build/lin-bench}
  if ! command -v gnuplot >/dev/null; then
    if [ "$(id -u)" = 0 ]; then
      apt-get install -y --no-install-recommends gnuplot-nox >/dev/null
    else
      echo "bench/cache_memory.sh: needs gnuplot: sudo apt-get install gnuplot-nox" >&2
      exit 1
    fi
  fi
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALLBOARD_RELEASE=OFF >/dev/null
  ninja -C "$BUILD" -j2 hallBoard hallboard-demo >/dev/null
  exec python3 bench/cache_memory_probe.py "$BUILD" "${2:-5}" 30 "${3:-$BUILD/cache-memory}"
fi

[ "${1:-}" = handler ] && shift
RELOADS=${1:-5}
REQUESTS=${2:-24}
BUILD=${HB_BENCH_BUILD:-build/bench-cache-memory}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$BUILD" -j2 cache_memory_bench >/dev/null
BENCH="$BUILD/bench/cache_memory_bench"

peak() { /usr/bin/time -v "$BENCH" "$1" "$RELOADS" "$REQUESTS" 2>&1 |
  sed -n -e 's/^\(budgeted\|unbounded\):/&/p' -e 's/^\s*Maximum resident set size (kbytes): //p'; }
echo "--- budgeted (the program)"
B=$(peak budgeted)
echo "$B"
echo "--- unbounded (no budget, no trimming)"
U=$(peak unbounded)
echo "$U"
b=$(echo "$B" | tail -1)
u=$(echo "$U" | tail -1)
echo "peak RSS: budgeted $((b / 1024)) MiB, unbounded $((u / 1024)) MiB, ratio $(awk "BEGIN{printf \"%.2f\", $b/$u}")"
