#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Nothing here fails on a time.
set -uo pipefail
build=${1:-build}
export QT_QPA_PLATFORM=offscreen
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "=== $(basename "$b")"
  "$b" || echo "($(basename "$b") exited with $?)"
  echo
done
