#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in BUILD_DIR (default build-fuzz) and runs each
# for FUZZ_SECONDS (default 60) from its committed seeds. The working corpus and the crash
# files of the last run stay in BUILD_DIR/fuzz-run/; the committed seeds are only read.
# Prints executions, coverage and the exit status per target; fails when a target crashed.
#
#   FUZZ_SECONDS=60 scripts/fuzz.sh build-fuzz
#   FUZZ_TARGETS="fuzz_des fuzz_launch" scripts/fuzz.sh     (a subset)
#   FUZZ_JOBS=2                                            (build jobs; default 2)
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
[[ "$build" = /* ]] || build="$root/$build"
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
all_targets=(fuzz_launch fuzz_des fuzz_config_xml fuzz_key_xml fuzz_video_stream fuzz_km_stream
             fuzz_media_stream)
read -r -a targets <<<"${FUZZ_TARGETS:-${all_targets[*]}}"

command -v clang++ >/dev/null || { echo "fuzz: clang++ not found (scripts/deps.sh installs it)" >&2; exit 1; }

echo "fuzz: configuring $build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARACT_FUZZ=ON >"$build.configure.log" 2>&1 \
  || { cat "$build.configure.log" >&2; exit 1; }
rm -f "$build.configure.log"
echo "fuzz: building ${targets[*]}"
cmake --build "$build" -j "$jobs" --target "${targets[@]}" || exit 1

# Headless: nothing here opens a window, but Qt must not look for a display.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
run="$build/fuzz-run"
mkdir -p "$run"
# Scratch files of the targets (settings files, the disk image) in memory-backed storage.
scratch=$(mktemp -d "${XDG_RUNTIME_DIR:-/dev/shm}/tessaract-fuzz.XXXXXX" 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
declare -a rows
for t in "${targets[@]}"; do
  corpus="$run/corpus/$t"
  artifacts="$run/artifacts/$t"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  # Seeds are copied in; new inputs go to the copy only.
  [[ -d "$root/fuzz/corpus/$t" ]] && cp -n "$root/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null
  log="$run/$t.log"
  echo "fuzz: $t for ${seconds}s"
  TMPDIR="$scratch" "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" -timeout=10 -rss_limit_mb=3072 \
    "$corpus" >"$log" 2>&1
  status=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -oE '#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
  units=$(find "$corpus" -type f | wc -l)
  crashes=$(find "$artifacts" -type f | wc -l)
  rows+=("$(printf '%-20s %10s  %-22s %7s  %7s  %s' "$t" "${execs:-?}" "${cov:-?}" "$units" "$crashes" "$status")")
  if [[ $status -ne 0 ]]; then
    failed=1
    echo "fuzz: $t failed (exit $status); log $log" >&2
    grep -E 'ERROR: |SUMMARY: |fuzz check failed|runtime error' "$log" | head -5 >&2
    ls "$artifacts" >&2
  fi
done

echo
printf '%-20s %10s  %-22s %7s  %7s  %s\n' target executions coverage corpus crashes exit
for r in "${rows[@]}"; do echo "$r"; done
exit $failed
