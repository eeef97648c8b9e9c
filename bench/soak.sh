#!/usr/bin/env bash
# A compressed month: the Linux program with Chromium against the demo servers for CYCLES cycles
# (default 200) of cloud outage and recovery, gateway restart, a 429 pause, a renderer crash, a map
# switch from the menu and a reload, with the program's waits shortened through the test-only
# HALLBOARD_TEST_TIME_DIVISOR (see the README; a release build has no such switch). Every SAMPLE
# cycles (default 5) it records the program's and the browser's resident memory, the program's
# descriptors and threads and the log's growth; it writes soak.csv and plots soak.png into OUT
# (default build/lin-bench/soak).
#
# Extra package: the plot needs gnuplot (Debian gnuplot-nox), which scripts/test does not; this
# script installs it with apt-get when it is missing and it may (root), else asks for it.
#
# Builds hallBoard and hallboard-demo in build/lin-bench (Release, not a HALLBOARD_RELEASE build).
# Usage: bench/soak.sh [CYCLES] [SAMPLE] [OUT]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/lin-bench"
if ! command -v gnuplot >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    apt-get install -y --no-install-recommends gnuplot-nox >/dev/null
  else
    echo "bench/soak.sh: needs gnuplot: sudo apt-get install gnuplot-nox" >&2
    exit 1
  fi
fi
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALLBOARD_RELEASE=OFF >/dev/null
ninja -C "$build" -j2 hallBoard hallboard-demo >/dev/null
exec python3 "$top/bench/soak_probe.py" "$build" "${1:-200}" "${2:-5}" "${3:-$build/soak}"
