#!/usr/bin/env bash
# The device goes away mid-stream: the viewer stays up showing the last picture, and closes
# cleanly and promptly when its window is asked to close.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init sim_dies "$@"
close_tool=${E2E_TOOLS:?}/wm_close
[[ -x $close_tool ]] || fail "wm_close not built"

start_sim --width 1280 --height 720
start_viewer
measure_toolbar "$WINDOW"
xdotool mousemove 1590 990
wait_screen_shown "$WINDOW" before || fail "no picture before the device went away"

kill -KILL "$SIM_PID"
wait "$SIM_PID" 2>/dev/null
sleep 1
kill -0 "$VIEWER_PID" 2>/dev/null || fail "the viewer ended with the device"
shoot_screen_area "$WINDOW" "$E2E_WORK/shown-after.png"
# The banner along the bottom edge says the device is away; the picture above it stays.
read -r shot_w shot_h < <(identify -format '%w %h\n' "$E2E_WORK/shown-after.png")
convert "$E2E_WORK/shown-after.png" -fill '#121314' \
  -draw "rectangle 0,$((shot_h - 60)) $shot_w,$shot_h" "$E2E_WORK/shown-after.png"
shows_placed "$E2E_WORK/shown-after.png" "$E2E_WORK/remote.png" || fail "the last picture is gone"

started=$SECONDS
"$close_tool" "$WINDOW" || fail "could not ask the window to close"
ended=
for ((i = 0; i < 30; ++i)); do
  kill -0 "$VIEWER_PID" 2>/dev/null || { ended=1; break; }
  sleep 0.1
done
[[ -n $ended ]] || fail "the viewer still runs 3 s after the close request"
wait "$VIEWER_PID"
status=$?
((status == 0)) || fail "the viewer ended with status $status"

pass "viewer survived the device, closed in $((SECONDS - started)) s"
