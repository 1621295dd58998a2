#!/usr/bin/env bash
# End to end under a real X server: the simulator starts the viewer, xdotool types into its
# window with real X key events, and the remote computer's console must show the text; a
# click on the screen must reach the device as a mouse report. Skipped (exit 77) where Xvfb
# or xdotool is missing.
#
#   xvfb_typing.sh BIN_DIR
set -uo pipefail

bin=${1:?program folder}
for tool in Xvfb xdotool xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "skip: $tool not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- simulator output"; cat "$work/sim.out" "$work/sim.err" 2>/dev/null | tail -20; exit 1; }

# A display nobody else uses: -displayfd lets the server pick it.
exec {dfd}<> <(:)
Xvfb -displayfd "$dfd" -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=
for _ in $(seq 100); do
  read -r -t 0.1 -u "$dfd" display && break
done
[[ -n "$display" ]] || fail "Xvfb did not start"
export DISPLAY=:$display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

"$bin/tessaract-sim" --port-video 0 --port-km 0 --port-media 0 --control-port 0 --no-stdin \
  --width 1280 --height 720 --fps 15 --log-json "$work/frames.jsonl" \
  --log-dir "$work/simlog" --launch "$bin/tessaract" >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)

port=
for _ in $(seq 100); do
  port=$(sed -n 's/^control:\([0-9]*\)$/\1/p' "$work/sim.out")
  [[ -n "$port" ]] && break
  sleep 0.1
done
[[ -n "$port" ]] || fail "no control port"

control() { # one command, one reply line
  exec {c}<>"/dev/tcp/127.0.0.1/$port" || return 1
  printf '%s\n' "$1" >&"$c"
  local reply
  read -r -t 5 -u "$c" reply
  exec {c}>&-
  printf '%s\n' "$reply"
}

window=$(xdotool search --sync --onlyvisible --name "Login User" 2>/dev/null | head -1)
[[ -n "$window" ]] || fail "the viewer's window did not appear"
# The viewer holds the write privilege once the device has answered its query.
for _ in $(seq 50); do
  [[ $(control status) == *holder=1* ]] && break
  sleep 0.1
done
[[ $(control status) == *holder=1* ]] || fail "the viewer never got the write privilege"

xdotool windowfocus --sync "$window"
sleep 0.5
xdotool type --delay 40 'kvm 42'
xdotool key Return

for _ in $(seq 50); do
  [[ $(control console) == *"kvm 42"* ]] && break
  sleep 0.1
done
console=$(control console)
[[ $console == *"kvm 42"* ]] || fail "typed text missing from the remote console: $console"

# A click on the picture: a button-down report (absolute, type 44, or relative, type 5).
xdotool mousemove --window "$window" 400 300 click 1
for _ in $(seq 30); do
  grep -q '"channel":"km".*"type":\(44\|5\),' "$work/frames.jsonl" && break
  sleep 0.1
done
grep -q '"channel":"km".*"type":\(44\|5\),' "$work/frames.jsonl" || fail "no mouse report reached the device"

echo "ok: typed text and a click reached the remote computer ($console)"
