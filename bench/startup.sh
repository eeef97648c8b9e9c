#!/usr/bin/env bash
# Linux start-up and memory figures, in one run on this machine:
#  - time from starting hallBoard to the seat map on screen (its page loaded and painted: the map's
#    colour and the seat-map picture both visible), against starting Chromium alone as an app
#    window on the same page with the same switches, alternating, several repetitions; and for
#    both, where that time goes: when the page's navigation started, its response started, its DOM
#    became interactive and its load event came (the page's own timing, which the demo page sends
#    back), against when the seat map was seen on screen;
#  - the resident memory of the hallBoard process itself (the browser's processes not counted)
#    after the first page load and after 1000 more.
# Builds hallBoard and hallboard-demo in build/lin-bench (Release). Usage: bench/startup.sh [REPS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/lin-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 hallBoard hallboard-demo >/dev/null
exec python3 "$top/bench/startup_probe.py" "$build" "${1:-7}" "${NAVIGATIONS:-1000}"
