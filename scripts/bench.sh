#!/usr/bin/env bash
# Runs every benchmark of the build; each prints its figures beside a baseline measured in
# the same run, and its targets. Ends with one table of every target.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
export TESSARACT_BENCH_SUMMARY=$summary
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
found=0
for b in "$build"/bench/*; do
  [[ -x "$b" && -f "$b" ]] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
if [[ $found -eq 0 ]]; then
  echo "bench: no benchmarks built"
  exit 0
fi
echo
echo "== Targets ($(nproc) cores; load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after)"
{ printf 'bench\ttarget\tmeasured\tgoal\t\n'; cat "$summary"; } | column -t -s $'\t'
missed=$(grep -c $'\tMISSED$' "$summary" || true)
echo "$(wc -l <"$summary") targets, $missed missed"
