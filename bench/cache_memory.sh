#!/bin/sh
# Peak memory of the gateway cache against a gateway that answers every picture with the largest
# body it may (12 MiB; 32 MiB for seat-map pictures): the program's cache with its memory budget
# and memory trimming, against the same cache with neither, in the same run. Each line gives the
# process's peak resident size and its resident size after the reloads; /usr/bin/time -v adds
# its own "Maximum resident set size" for the whole process.
#
#   bench/cache_memory.sh [RELOADS] [REQUESTS]   (default 5 reloads of 24 requests; build folder
#                                                  build/bench-cache-memory, Release)
set -eu
cd "$(dirname "$0")/.."
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
