#!/usr/bin/env bash
# The shipped systemd user unit passes systemd's own check, with the program where the unit
# expects it (a scratch home holding hallBoard/hallBoard), and restarts the program on failure.
# Usage: check_systemd_unit.sh UNIT_FILE PROGRAM
set -euo pipefail
unit=$1 program=$2
if ! command -v systemd-analyze >/dev/null; then
  [ "${CI:-}" = "true" ] && { echo "systemd-analyze missing (package systemd)"; exit 1; }
  echo "skipped: systemd-analyze is not installed (scripts/install-deps installs systemd)"
  exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home/hallBoard" "$scratch/run"
chmod 700 "$scratch/run"
cp "$program" "$scratch/home/hallBoard/hallBoard"
cp "$unit" "$scratch/hallBoard.service"
# The user manager's offline check needs only a home and a runtime folder of its own.
out=$(cd "$scratch" && HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
  systemd-analyze --user verify ./hallBoard.service 2>&1) || { echo "$out"; exit 1; }
# A misspelt setting is only warned about: any word from the check is a failure.
[ -z "$out" ] || { echo "$out"; exit 1; }
# The restart rule and the pause between restarts (an unknown value would have been warned about).
grep -qx 'Restart=on-failure' "$unit" || { echo "no Restart=on-failure"; exit 1; }
grep -qx 'StartLimitIntervalSec=0' "$unit" || { echo "restarts are limited"; exit 1; }
# An update ends the service (exit status 0) and, with this kill mode, kills what is left in its
# control group: the program must start the installer outside it (systemd-run --scope).
case $(sed -n 's/^KillMode=//p' "$unit") in
  process|none) ;;
  *) grep -aq 'systemd-run' "$program" || { echo "the installer would die with the service"; exit 1; } ;;
esac
# Without the program the check fails: it really looks at ExecStart.
rm "$scratch/home/hallBoard/hallBoard"
if (cd "$scratch" && HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
  systemd-analyze --user verify ./hallBoard.service >/dev/null 2>&1); then
  echo "the check passed without the program"; exit 1
fi
echo "systemd user unit: OK"
