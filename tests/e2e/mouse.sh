#!/usr/bin/env bash
# The mouse in both modes: a click on a spot of the shown picture lands on the matching spot
# of the remote screen, with absolute reports (mouseMode 1) and with relative ones after the
# viewer has aligned both pointers (mouseMode 0).
source "$(dirname "$0")/e2e_lib.sh"
e2e_init "mouse-${1:?mode}" "${@:2}"
mode=$1

start_sim --width 1280 --height 720 --mouse-mode "$([[ $mode == absolute ]] && echo 1 || echo 0)"
start_viewer
measure_toolbar "$WINDOW"
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"
# The picture must be shown before its geometry maps the pointer.
xdotool mousemove 1590 990
wait_screen_shown "$WINDOW" start || fail "the remote screen is not shown"
picture_placement 1280 720 800 600   # 800 x 450 at 0,75: one label pixel is 1.6 remote ones

focus_window "$WINDOW"
# Two spots, each clicked: the button report carries the position (absolute) or follows the
# moves that brought the remote pointer there (relative).
for spot in "200 150" "640 420"; do
  read -r lx ly <<<"$spot"
  xdotool mousemove --window "$WINDOW" $((TOOLBAR_W + lx)) "$ly"
  sleep 0.3
  xdotool mousemove --window "$WINDOW" $((TOOLBAR_W + lx)) "$ly" click 1
  want_x=$(((lx - OFF_X) * 1280 / SHOWN_W))
  want_y=$(((ly - OFF_Y) * 720 / SHOWN_H))
  near() {
    local x y
    read -r _ x y < <(control pointer)
    ((x >= want_x - 4 && x <= want_x + 4 && y >= want_y - 4 && y <= want_y + 4))
  }
  wait_for 30 near || fail "click at label $lx,$ly: remote pointer $(control pointer), want $want_x $want_y"
  echo "label $lx,$ly -> remote $(control pointer) (want $want_x $want_y)"
done
if [[ $mode == absolute ]]; then
  frame_seen 30 '"channel":"km".*"type":44,"payload":"01' || fail "no absolute button report"
else
  frame_seen 30 '"channel":"km".*"type":5,"payload":"01' || fail "no relative button report"
fi

# One notch of the wheel up: +1 in the report's wheel byte, in both modes.
xdotool click 4
wait_for 30 reply_matches status '*wheel=1*' || fail "the wheel did not reach the device: $(control status)"

pass "$mode clicks landed on the remote spots; the wheel turned"
