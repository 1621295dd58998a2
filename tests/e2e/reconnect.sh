#!/usr/bin/env bash
# Connection life: the device drops each channel in turn, then dies and comes back on the
# same ports. Each time the viewer comes back by itself: a new picture shows, typing reaches
# the console, and the mapped image is mapped again and read as it is on the local disk.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init reconnect "$@"
make_disk_image
# The ext2 superblock: sector 2 of the image, as the simulator's model must hold it.
expected=$(od -An -v -tx1 -j 1024 -N 512 "$image" | tr -d ' \n')

screen=(--width 640 --height 360)
start_sim "${screen[@]}"
start_viewer
measure_toolbar "$WINDOW"
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"
wait_for 50 reply_matches media '*mapped=0*' || fail "media: $(control media)"

focus_window "$WINDOW"
toolbar_click "$WINDOW" 4          # full screen, align, grab, video settings, media
dialog=$(window_of "$VIEWER_PID" "Virtual Media Setting") || fail "the media dialog did not open"
focus_window "$dialog"
window_geometry "$dialog"
xdotool mousemove --window "$dialog" $((WIN_W / 2 - 46)) 93 click 1   # Map
wait_for 50 reply_matches media '*mapped=1*label="E2EDISK"*' || fail "after Map: $(control media)"
xdotool key Escape

has_line() { [[ $(control console) == *"$1\\n"* ]]; }
superblock_read() { [[ $(control "sector 2") == "ok $expected" ]]; }

# The viewer is whole again: the picture shown is the remote screen as it stands, typing
# reaches the console, the image is mapped and the remote computer reads it unchanged.
comes_back() {
  local step=$1
  wait_for 150 reply_matches status '*holder=[1-9]*' || fail "$step: no write privilege again"
  wait_for 100 reply_matches media '*mapped=1*label="E2EDISK"*' || fail "$step: media $(control media)"
  reply_matches media '*ro=0*' || fail "$step: mapped in another mode: $(control media)"
  wait_for 50 superblock_read || fail "$step: sector 2 reads $(control 'sector 2' | cut -c1-40)..."
  wait_screen_shown "$WINDOW" "$step" || fail "$step: the picture did not come back"
  focus_window "$WINDOW"
  xdotool type --delay 30 "back $step"
  xdotool key Return
  wait_for 50 has_line "back $step" || fail "$step: the console shows: $(control console)"
}

for channel in km video media; do
  id=$(control viewers | sed -n "s/.* $channel:\([0-9,]*\).*/\1/p" | tr ',' '\n' | tail -1)
  [[ -n $id ]] || fail "no $channel connection: $(control viewers)"
  reply_matches "close $channel $id" ok || fail "cannot drop $channel $id"
  wait_for 100 reply_matches viewers "* $channel:*$((id + 1))*" || fail "$channel not back: $(control viewers)"
  comes_back "$channel"
done

# The device dies and comes back on the same ports, with the same keys.
item() { sed -n "s/.*[{,]$1:\([0-9A-Fa-f]*\).*/\1/p" <<<"$LAUNCH"; }
same=(--port-km "$(item portKM)" --port-video "$(item portV)" --port-media "$(item portMedia)"
      --des-encode "$(item desEncode)" --des-decode "$(item desDecode)")
kill -KILL "$SIM_PID"
wait "$SIM_PID" 2>/dev/null
sleep 1
kill -0 "$VIEWER_PID" 2>/dev/null || fail "the viewer ended with the device"
start_sim "${screen[@]}" "${same[@]}"
comes_back restart

pass "came back after each channel's drop and after the device's restart"
