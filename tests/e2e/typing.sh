#!/usr/bin/env bash
# Typing: real X key events into the viewer's window reach the remote computer's console,
# shifted characters included.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init typing "$@"

start_sim --width 640 --height 360
start_viewer
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"

sentence='Hello, World! It is 42% (A+B) & "Q"?'
focus_window "$WINDOW"
xdotool type --delay 30 "$sentence"
xdotool key Return
has_sentence() { [[ $(control console) == *"$sentence\\n"* ]]; }
wait_for 50 has_sentence || fail "the remote console shows: $(control console)"

pass "typed: $sentence"
