#!/usr/bin/env bash
# The keyboard under a real X server and window manager, with a German local layout and a
# remote computer set to German: the keys for ä ö ü ß and AltGr+Q type those characters
# there; Alt+Tab, whose Tab and Alt release the window manager takes, leaves no Alt held; in
# full screen the viewer has the keyboard, so Alt+Tab reaches the remote computer, and
# Ctrl+Alt+Return leaves full screen.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init keyboard "$@"
command -v setxkbmap >/dev/null || { echo "skip: setxkbmap not installed"; exit 77; }

start_wm
setxkbmap de || fail "setxkbmap de failed"
start_sim --width 640 --height 360 --layout de
start_viewer
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"
console_has() { [[ $(control console) == *"$1"* ]]; }

focus_window "$WINDOW"
# 108 is the key code of the right Alt key, AltGr on a German keyboard.
xdotool key --delay 40 adiaeresis odiaeresis udiaeresis ssharp 108+q shift+adiaeresis Return
wait_for 50 console_has 'äöüß@Ä\n' || fail "German keys: the remote console shows: $(control console)"

xdotool key alt+Tab
wait_for 30 eval '[[ $(xdotool getactivewindow 2>/dev/null) == "$WINDOW" ]]' ||
  fail "the window manager did not give the viewer the focus back"
xdotool key --delay 40 a Return
wait_for 50 console_has 'Ä\na\n' || fail "after Alt+Tab: the remote console shows: $(control console)"
[[ $(keyboard_reports | grep '^....04' | tail -1) == 0000040000000000 ]] ||
  fail "the report that typed a: $(keyboard_reports | tail -3 | tr '\n' ' ')"

xdotool key ctrl+alt+Return
wait_for 50 eval 'xprop -id "$WINDOW" _NET_WM_STATE | grep -q FULLSCREEN' || fail "no full screen"
xdotool key alt+Tab
frame_seen 30 '"type":3,"payload":"04002b0000000000"' ||
  fail "Alt+Tab in full screen: $(keyboard_reports | tail -3 | tr '\n' ' ')"
xdotool key ctrl+alt+Return
wait_for 50 eval '! xprop -id "$WINDOW" _NET_WM_STATE | grep -q FULLSCREEN' ||
  fail "Ctrl+Alt+Return did not leave full screen"

pass "German keys, Alt+Tab outside and inside full screen"
