#!/bin/sh
# Update download benchmark: a 300 MB package served by the loopback demo gateway, fetched into
# the temporary folder and checked, by the program's own path (update_bench: libcurl into a
# capped file sink, then SHA-256 by reading the file back) against `curl -o` plus `sha256sum` on
# the same URL in the same run (hyperfine), and the peak memory of each (/usr/bin/time -v).
# With hallboard-pack built, the package is a real signed release and a third command adds the
# signature verification.
#
#   bench/update.sh [RUNS]      (default 5 runs; build folder: build/bench-update, Release)
set -eu
cd "$(dirname "$0")/.."
RUNS=${1:-5}
BUILD=${HB_BENCH_BUILD:-build/bench-update}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$BUILD" -j2 hallboard-demo update_bench >/dev/null
PACK="$BUILD/tools/pack/hallboard-pack"
ninja -C "$BUILD" -j2 hallboard-pack >/dev/null 2>&1 || PACK=""
[ -x "${PACK:-/nonexistent}" ] || PACK=""

WORK=$(mktemp -d "${TMPDIR:-/tmp}/hb-update-bench-XXXXXX")
DEMO_PID=""
cleanup() {
  [ -n "$DEMO_PID" ] && kill "$DEMO_PID" 2>/dev/null && wait "$DEMO_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# 300 MB of incompressible bytes: the package is stored, as large as the program accepts.
mkdir -p "$WORK/release"
head -c 300000000 /dev/urandom >"$WORK/release/payload.bin"
printf '#!/bin/sh\n' >"$WORK/release/hallBoard"
printf '{"component":"HallBoard","version":"1.0.2","version_code":3}' >"$WORK/release/manifest.json"
if [ -n "$PACK" ]; then
  "$PACK" pack --in "$WORK/release" --out "$WORK/package.zip" --component HallBoard \
    --version 1.0.2 --version-code 3 --key tests/data/signature/dev-release-key.pem >/dev/null
else
  echo "hallboard-pack not built: timing download and digest of an unsigned file" >&2
  mv "$WORK/release/payload.bin" "$WORK/package.zip"
fi
rm -rf "$WORK/release"

: >"$WORK/demo.out"
"$BUILD/tools/demo/hallboard-demo" --gateway-port 0 --cloud-port 0 \
  --release "$WORK/package.zip" --release-version-code 3 --release-version 1.0.2 \
  >"$WORK/demo.out" &
DEMO_PID=$!
for _ in $(seq 50); do grep -q '^ready' "$WORK/demo.out" && break; sleep 0.1; done
PORT=$(sed -n 's/^gateway 127.0.0.1:\([0-9]*\)$/\1/p' "$WORK/demo.out")
BASE="http://127.0.0.1:$PORT"
URL="$BASE$(curl -s -X POST -H 'Content-Type: application/json' \
  -d '{"component":"HallBoard","current_version":"1.0.1","current_version_code":2,"ts":0,"nonce":"bench"}' \
  "$BASE/getUpdate" | sed -n 's/.*"download_path":"\([^"]*\)".*/\1/p')"

OURS="$BUILD/bench/update_bench $BASE $WORK/ours.zip"
CURL="curl -s -o $WORK/curl.zip '$URL' && sha256sum $WORK/curl.zip"
echo "package: $(stat -c %s "$WORK/package.zip") bytes"
set -- "$OURS" "$CURL"
[ -n "$PACK" ] && set -- "$@" "$OURS --verify"
hyperfine --warmup 1 --runs "$RUNS" --export-markdown "$WORK/times.md" "$@" >&2
cat "$WORK/times.md"

peak() { /usr/bin/time -v sh -c "$1" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p'; }
echo
echo "| command | peak memory (KiB) |"
echo "|:---|---:|"
echo "| update_bench | $(peak "$OURS") |"
echo "| curl | $(peak "curl -s -o $WORK/curl.zip '$URL'") |"
echo "| sha256sum | $(peak "sha256sum $WORK/curl.zip") |"
[ -n "$PACK" ] && echo "| update_bench --verify | $(peak "$OURS --verify") |"
exit 0
