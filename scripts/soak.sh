#!/usr/bin/env bash
# Long session: the simulator streams 1080p60 to the real viewer for SOAK_SECONDS (default
# 600) while xdotool types and moves the mouse without pause and the remote computer reads
# a read-only image, mapped through the viewer's media dialog, in a loop. At the end the
# viewer is told to close (SIGTERM) and the figures are printed: the viewer's resident
# memory after the warm-up and at the end (growth must stay under 5%), pictures sent, shown
# and dropped, the slowest picture, and, with sanitizer builds, what LeakSanitizer found.
# Runs under a private Xvfb when there is no display.
#
#   soak.sh [BUILD_DIR]          (make soak; make soak BUILD=build-asan SOAK_SECONDS=60)
#
# SOAK_SECONDS, SOAK_WARMUP (seconds before the first memory figure; default a fifth of
# the run, at most 60), SOAK_WIDTH, SOAK_HEIGHT, SOAK_FPS, SOAK_KEEP=1 keeps the work
# folder (logs, samples).
set -uo pipefail

build=${1:-build}
bin=$(cd "$build/bin" 2>/dev/null && pwd) || { echo "soak: no programs in $build/bin"; exit 2; }
seconds=${SOAK_SECONDS:-600}
warmup=${SOAK_WARMUP:-$(( seconds / 5 < 60 ? seconds / 5 : 60 ))}
width=${SOAK_WIDTH:-1920}
height=${SOAK_HEIGHT:-1080}
fps=${SOAK_FPS:-60}
for tool in xdotool; do
  command -v "$tool" >/dev/null || { echo "soak: $tool not installed"; exit 2; }
done

work=$(mktemp -d /tmp/tessaract-soak.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [[ -z ${SOAK_KEEP:-} ]]; then rm -rf "$work"; else echo "soak: work folder kept: $work"; fi
}
trap cleanup EXIT
fail() { echo "soak: FAIL: $*"; tail -20 "$work/sim.err" 2>/dev/null; exit 1; }

# The viewer runs from a folder of its own, so its log lands there and not in the build.
mkdir -p "$work/program"
cp "$bin/tessaract" "$work/program/"
[[ -x "$bin/ledsync" ]] && cp "$bin/ledsync" "$work/program/"
# Sanitizer builds: leaks are reported into files at the viewer's (and the simulator's)
# exit. The programs carry their own waiver (cmake/lsan_suppressions.cpp: the one allocation
# libdbus makes when Qt joins the session bus); LeakSanitizer prints how often it matched.
sanitized=
if [[ $( { nm -D "$bin/tessaract"; nm "$bin/tessaract"; } 2>/dev/null | grep -c __asan_init) -gt 0 ]]; then
  sanitized=1
  export ASAN_OPTIONS="detect_leaks=1:log_path=$work/asan${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
  export LSAN_OPTIONS="print_suppressions=1${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  export UBSAN_OPTIONS="print_stacktrace=1:log_path=$work/asan${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
fi

# The disk the remote computer reads: 64 MiB with a recognisable pattern, mapped read-only.
image="$work/soak.img"
truncate -s 64M "$image"
head -c 1048576 /dev/urandom | dd of="$image" conv=notrunc status=none
sum_before=$(sha256sum "$image" | cut -d' ' -f1)
export TESSARACT_IMAGES="$image"

if [[ -z ${DISPLAY:-} ]]; then
  command -v Xvfb >/dev/null || { echo "soak: no display and no Xvfb"; exit 2; }
  exec {dfd}<> <(:)
  Xvfb -displayfd "$dfd" -screen 0 2200x1300x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  display=
  for _ in $(seq 100); do read -r -t 0.1 -u "$dfd" display && break; done
  [[ -n "$display" ]] || fail "Xvfb did not start"
  export DISPLAY=:$display
fi
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

"$bin/tessaract-sim" --port-video 0 --port-km 0 --port-media 0 --control-port 0 --no-stdin \
  --width "$width" --height "$height" --fps "$fps" --stats 10 --log-dir "$work/simlog" \
  --launch "$work/program/tessaract" >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
pids+=($sim)

port=
for _ in $(seq 200); do
  port=$(sed -n 's/^control:\([0-9]*\)$/\1/p' "$work/sim.out")
  [[ -n "$port" ]] && break
  sleep 0.1
done
[[ -n "$port" ]] || fail "the simulator gave no control port"

control() { # one command, one reply line
  local c reply
  exec {c}<>"/dev/tcp/127.0.0.1/$port" || return 1
  printf '%s\n' "$1" >&"$c"
  read -r -t 10 -u "$c" reply
  exec {c}>&-
  printf '%s\n' "$reply"
}
field() { sed -n "s/.* $1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }

window=$(timeout 60 xdotool search --sync --onlyvisible --name "Login User" 2>/dev/null | head -1)
[[ -n "$window" ]] || fail "the viewer's window did not appear"
viewer=$(xdotool getwindowpid "$window")
[[ -n "$viewer" ]] || fail "no process id for the viewer's window"
for _ in $(seq 100); do [[ $(control status) == *holder=1* ]] && break; sleep 0.2; done
[[ $(control status) == *holder=1* ]] || fail "the viewer never got the write privilege"

# Map the image read-only through the media dialog: the fifth toolbar button opens it.
xdotool mousemove --window "$window" 21 199 click 1
dialog=$(timeout 20 xdotool search --sync --onlyvisible --name "Virtual Media Setting" 2>/dev/null | head -1)
[[ -n "$dialog" ]] || fail "the media dialog did not open"
sleep 0.5
xdotool mousemove --window "$dialog" 86 59 click 1   # Read Only
sleep 0.3
xdotool mousemove --window "$dialog" 96 93 click 1   # Map
for _ in $(seq 100); do [[ $(control media) == *mapped=1*idle=1* ]] && break; sleep 0.2; done
media=$(control media)
[[ $media == *mapped=1*ro=1* ]] || fail "the image was not mapped read-only: $media"
sectors=$(field sectors "$media")
xdotool key --window "$dialog" Escape 2>/dev/null
xdotool windowfocus --sync "$window" 2>/dev/null || true

# Input without pause: lines of text with Return, and mouse moves over the picture.
(
  while [[ ! -e "$work/stop" ]]; do
    xdotool type --delay 30 'soak 0123456789 the quick brown fox ' 2>/dev/null
    xdotool key Return 2>/dev/null
  done
) &
typer=$!
pids+=($typer)
(
  while [[ ! -e "$work/stop" ]]; do
    xdotool mousemove --window "$window" $(( 60 + RANDOM % 700 )) $(( 20 + RANDOM % 500 )) 2>/dev/null
    sleep 0.05
  done
) &
mouser=$!
pids+=($mouser)

rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$viewer/status" 2>/dev/null; }
start=$(date +%s)
rss_start=
rss_peak=0
reads=0
echo "soak: ${seconds} s of ${width}x${height}@${fps}, viewer pid $viewer, warm-up ${warmup} s"
while (( $(date +%s) - start < seconds )); do
  kill -0 "$viewer" 2>/dev/null || fail "the viewer ended during the run"
  now=$(rss)
  elapsed=$(( $(date +%s) - start ))
  echo "$elapsed $now" >>"$work/rss.txt"
  if [[ -z $rss_start && $elapsed -ge $warmup ]]; then rss_start=$now; fi
  (( now > rss_peak )) && rss_peak=$now
  # The remote computer reads 256 sectors somewhere on the disk whenever it is idle.
  media=$(control media)
  if [[ $media == *idle=1* && $media == *queued=0* ]]; then
    control "read $(( (RANDOM * 32768 + RANDOM) % (sectors - 256) )) 256" >/dev/null
    reads=$((reads + 1))
  fi
  (( elapsed % 60 == 59 )) && control clear >/dev/null
  sleep 1
done
rss_end=$(rss)
[[ -n $rss_start ]] || rss_start=$rss_end
media=$(control media)
console=$(control console)
stats=$(grep '^stats:' "$work/sim.err")

touch "$work/stop"
wait "$typer" "$mouser" 2>/dev/null
kill -TERM "$viewer"
for _ in $(seq 300); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
kill -0 "$sim" 2>/dev/null && fail "the viewer did not close within 30 s of SIGTERM"
wait "$sim"
status=$?

# Pictures: the device's figures every 10 s, the viewer's own once a minute.
sent=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^pictures\/s=/) { split($i, a, "="); s += a[2] * 10 } } END { printf "%d", s }' <<<"$stats")
skipped=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^skipped=/) { split($i, a, "="); s += a[2] } } END { printf "%d", s }' <<<"$stats")
encode_max=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^encode_max_ms=/) { split($i, a, "="); if (a[2] > m) m = a[2] } } END { print m + 0 }' <<<"$stats")
viewer_line=$(grep -h 'video statistics:' "$work"/program/log/*.log 2>/dev/null | tail -1)
growth=$(awk -v a="$rss_start" -v b="$rss_end" 'BEGIN { printf "%.2f", (b - a) * 100 / a }')
sum_after=$(sha256sum "$image" | cut -d' ' -f1)

echo "soak: resident memory after warm-up ${rss_start} kB, at the end ${rss_end} kB (growth ${growth}%), largest ${rss_peak} kB"
echo "soak: device sent ~${sent} pictures, skipped ${skipped} for a slow viewer, slowest encode ${encode_max} ms"
if [[ -n $viewer_line ]]; then
  viewer_line=${viewer_line#*video statistics: }
  echo "soak: viewer: ${viewer_line% ( *}"
else
  echo "soak: viewer: no statistics line (the run was shorter than a minute)"
fi
echo "soak: remote computer read $(field read "$media") sectors in ${reads} read requests; image $( [[ $sum_before == "$sum_after" ]] && echo unchanged || echo CHANGED)"
echo "soak: typed text on the remote console at the end: $( [[ $console == *"the quick brown fox"* ]] && echo yes || echo NO)"
echo "soak: viewer exit status $status after SIGTERM"

result=0
if [[ -n $sanitized ]]; then
  echo "soak: memory growth not judged: AddressSanitizer keeps freed memory in quarantine"
else
  awk -v g="$growth" 'BEGIN { exit !(g < 5) }' || { echo "soak: FAIL: memory grew by ${growth}%"; result=1; }
fi
[[ $sum_before == "$sum_after" ]] || { echo "soak: FAIL: the read-only image changed"; result=1; }
[[ $console == *"the quick brown fox"* ]] || { echo "soak: FAIL: typing no longer reached the remote computer"; result=1; }
# Every read asked for but the last has been served: the media channel never stalled.
(( $(field read "$media") >= 256 * (reads - 1) )) || { echo "soak: FAIL: the remote computer's reads stalled"; result=1; }
(( status == 0 )) || { echo "soak: FAIL: the viewer ended with status $status"; result=1; }
if [[ -n $sanitized ]]; then
  if grep -l 'ERROR: \(LeakSanitizer\|AddressSanitizer\)\|runtime error:' "$work"/asan.* >/dev/null 2>&1; then
    echo "soak: FAIL: the sanitizers reported:"
    head -80 "$work"/asan.*
    result=1
  else
    echo "soak: LeakSanitizer: no leak in the viewer or the simulator at their exit"
    cat "$work"/asan.* 2>/dev/null | grep -A4 'Suppressions used' | sed 's/^/soak:   /'
  fi
fi
(( result == 0 )) && echo "soak: PASS"
exit $result
