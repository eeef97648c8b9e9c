#!/usr/bin/env bash
# Release signature figures, all in one run on this machine:
#  - VerifyUpdatePackage on a generated ~300 MB package (~200 MB stored, ~100 MB deflated) against
#    `unzip -t` and `sha256sum` of the same file: wall time (hyperfine) and peak memory (time -v);
#  - Ed25519Verify per call against OpenSSL's verify (Google Benchmark).
# Builds what it needs in build/bench (Release); the package lives in a temporary folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build/bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 hallboard-pack package_verify_bench ed25519_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rel="$work/release"
mkdir -p "$rel/data"
echo '{"component":"HallBoard","version":"9.9.9","version_code":99}' >"$rel/manifest.json"
# Incompressible files are stored; half-random, half-repetitive files deflate to about half.
python3 - "$rel" <<'PY'
import os, sys
rel = sys.argv[1]
for i in range(4):
    with open(f"{rel}/data/stored-{i}.bin", "wb") as f:
        for _ in range(50):
            f.write(os.urandom(1 << 20))
text = b"seat 0417 free; seat 0418 busy; " * 64
for i in range(4):
    with open(f"{rel}/data/deflated-{i}.dat", "wb") as f:
        for _ in range(50 * 256):
            f.write(os.urandom(2048) + text[:2048])
PY
cp /dev/null "$rel/hallBoard.exe"
key="$work/bench.pem"
line=$("$build/tools/pack/hallboard-pack" keygen --out "$key")
"$build/tools/pack/hallboard-pack" pack --in "$rel" --out "$work/p.zip" --component HallBoard \
  --version 9.9.9 --version-code 99 --key "$key" >/dev/null
rm -rf "$rel"
pkg="$work/p.zip"
echo "package: $(du -m "$pkg" | cut -f1) MB"
unzip -v "$pkg" | awk 'NR>3 && $2 ~ /Stored|Defl/ {m[$2]+=$3} END {for (k in m) printf "  %s: %d MB in the archive\n", k, m[k]/1048576}'

verify=("$build/bench/package_verify_bench" "$pkg" 99 "$line")
"${verify[@]}" >/dev/null || { echo "the package did not verify"; exit 1; }
hyperfine -N --warmup 1 --runs 5 --export-json "$work/h.json" \
  -n VerifyUpdatePackage "${verify[0]} $pkg 99 '$line'" \
  -n "unzip -t" "unzip -tqq $pkg" \
  -n sha256sum "sha256sum $pkg" >/dev/null
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}'; }
p_verify=$(peak "${verify[@]}")
p_unzip=$(peak unzip -tqq "$pkg")
p_sha=$(peak sha256sum "$pkg")
python3 - "$work/h.json" "$p_verify" "$p_unzip" "$p_sha" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
peaks = dict(zip(["VerifyUpdatePackage", "unzip -t", "sha256sum"], sys.argv[2:]))
v = r["VerifyUpdatePackage"]["median"]
for name in ["VerifyUpdatePackage", "unzip -t", "sha256sum"]:
    m = r[name]["median"]
    print(f"{name:20s} median {m:7.3f} s  VerifyUpdatePackage/this {v / m:5.2f}  peak RSS {int(peaks[name]) / 1024:6.1f} MiB")
PY

"$build/bench/ed25519_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=json >"$work/e.json" 2>/dev/null
python3 - "$work/e.json" <<'PY'
import json, sys
b = {x["run_name"]: x["real_time"] for x in json.load(open(sys.argv[1]))["benchmarks"] if x.get("aggregate_name") == "median"}
ours, ssl = b["BM_Ed25519Verify"], b["BM_OpenSslVerify"]
print(f"Ed25519Verify        {ours:8.1f} us per call")
print(f"OpenSSL verify       {ssl:8.1f} us per call   ratio {ours / ssl:.1f}x")
PY
