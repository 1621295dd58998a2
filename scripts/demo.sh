#!/usr/bin/env bash
# Starts the device simulator and the viewer against it. Without a display both run under
# Xvfb for a few seconds and a screenshot of the screen is saved as demo.png.
set -euo pipefail

build=${1:-build}
bin="$build/bin"
seconds=${DEMO_SECONDS:-8}
shot="$PWD/demo.png"

run_pair() {
  if [[ -x "$bin/tessaract-sim" ]]; then
    "$bin/tessaract-sim" --launch "$bin/tessaract" "$@"
  else
    # No simulator built: the viewer alone against a closed port says "KM connect error.".
    "$bin/tessaract" '{ip:127.0.0.1,portKM:5901,portV:5900,portMedia:5918,priv:1,dogID:0,mouseMode:0,userNM:admin,userID:7,desEncode:0123456789ABCDEF,desDecode:FEDCBA9876543210}'
  fi
}

if [[ -n "${DISPLAY:-}" && -z "${DEMO_HEADLESS:-}" ]]; then
  run_pair
  exit 0
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1000x24 -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done

export DISPLAY=$display
run_pair >"$build/demo.log" 2>&1 &
pair=$!
# Type a line on the remote computer once the window is up, then photograph the window.
window=
if command -v xdotool >/dev/null; then
  window=$(timeout 20 xdotool search --sync --onlyvisible --name "Login User" 2>/dev/null | head -1)
fi
if [[ -n "$window" ]]; then
  sleep 2
  xdotool windowfocus "$window" 2>/dev/null || true
  xdotool type --delay 30 'echo Hello from Tessaract' 2>/dev/null || true
  xdotool key Return 2>/dev/null || true
fi
sleep "$seconds"
import -window "${window:-root}" "$shot"
kill "$pair" 2>/dev/null || true
pkill -P "$pair" 2>/dev/null || true
wait "$pair" 2>/dev/null || true
echo "demo: screenshot saved to $shot"
