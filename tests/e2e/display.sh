#!/usr/bin/env bash
# The remote screen shows scaled to the window and centred on the margin colour, in the
# window and in full screen (toolbar button, carried out by a window manager), and again
# after leaving full screen.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init display "$@"

start_wm
start_sim --width 1280 --height 720
start_viewer
measure_toolbar "$WINDOW"
# Out of the picture's way: the pointer is drawn into the remote screen.
xdotool mousemove 1590 990

shows_picture() { # label
  wait_screen_shown "$WINDOW" "$1" || fail "$1: the shown picture differs from the remote screen" \
    "(RMS $DIFF; expected ${SHOWN_W}x$SHOWN_H at $OFF_X,$OFF_Y)"
  echo "$1: RMS $DIFF, ${SHOWN_W}x$SHOWN_H at $OFF_X,$OFF_Y"
}

shows_picture window           # 800 x 600: 800 x 450, 75 rows of margin above and below
[[ "$SHOWN_W $SHOWN_H $OFF_X $OFF_Y" == "800 450 0 75" ]] || fail "placement $SHOWN_W $SHOWN_H $OFF_X $OFF_Y"

# Full screen: the toolbar's first button. The window takes the whole 1600 x 1000 screen.
focus_window "$WINDOW"
toolbar_click "$WINDOW" 0
xdotool mousemove 1590 990
wait_for 50 eval 'window_geometry "$WINDOW"; ((WIN_W == 1600 && WIN_H == 1000))' ||
  fail "full screen: window is ${WIN_W}x$WIN_H"
xprop -id "$WINDOW" _NET_WM_STATE | grep -q FULLSCREEN || fail "no full-screen state"
shows_picture fullscreen
((OFF_X == 0 && OFF_Y > 0 && SHOWN_W == 1600 - TOOLBAR_W)) || fail "full screen placement $SHOWN_W $SHOWN_H $OFF_X $OFF_Y"

# And back.
toolbar_click "$WINDOW" 0
xdotool mousemove 1590 990
wait_for 50 eval 'window_geometry "$WINDOW"; ((WIN_W == 800 + TOOLBAR_W && WIN_H == 600 + STATUS_H))' ||
  fail "not back from full screen: ${WIN_W}x$WIN_H"
shows_picture restored

pass "picture placed as the remote screen in window, full screen and back"
