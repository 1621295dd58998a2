#!/usr/bin/env bash
# Runs every benchmark of the build; each prints its figures beside a baseline measured in
# the same run.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
found=0
for b in "$build"/bench/*; do
  [[ -x "$b" && -f "$b" ]] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[[ $found -eq 1 ]] || echo "bench: no benchmarks built"
