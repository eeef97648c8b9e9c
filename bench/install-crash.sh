#!/bin/sh
# The installer crash-consistency test in full: both scripts (sh, and PowerShell under the
# ground-truth pwsh) killed after every one of their steps, run short of space at every size of a
# small file system in 4 KiB steps, and against every replaced entry held by a read-only bind
# mount. The test suite runs a sample of the same; this prints the counts of the full run.
# Needs root (tmpfs and bind mounts); takes tens of minutes on a loaded two-core machine.
#
#   bench/install-crash.sh      (build folder: build/asan, as scripts/build --asan makes it)
set -eu
cd "$(dirname "$0")/.."
BUILD=${HB_BENCH_BUILD:-build/asan}
cmake --build "$BUILD" --target hallboard_unit_tests >/dev/null
HB_INSTALL_CRASH_FULL=1 "$BUILD/tests/hallboard_unit_tests" --gtest_filter='Shells/InstallerCrash.*' |
  grep -E '^(kill points tried|file-system sizes tried)|^\[ *(OK|FAILED|PASSED|SKIPPED) '
