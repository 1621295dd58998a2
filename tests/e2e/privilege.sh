#!/usr/bin/env bash
# Two viewers on one device: the second asks for the write privilege with its toolbar
# button, the holder is asked (a message box answered with real key presses) and refuses,
# then gives it up when asked again; from then on only the second viewer types on the remote
# computer.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init privilege "$@"

start_sim --width 640 --height 360
start_viewer
first_pid=$VIEWER_PID first_window=$WINDOW
wait_for 50 reply_matches status '*holder=1*' || fail "the first viewer never got the write privilege"
start_viewer
second_pid=$VIEWER_PID second_window=$WINDOW
measure_toolbar "$second_window"
# Side by side (there is no window manager to place them).
xdotool windowmove --sync "$second_window" $((1600 - WIN_W)) 0
# The second viewer's grab button works once the device has told it where it stands.
frame_seen 50 '"channel":"km","viewer":2,"type":23' || fail "the second viewer sent no privilege query"
wait_for 50 reply_matches viewers 'ok km:1,2 *' || fail "viewers: $(control viewers)"
reply_matches status '*holder=1 requester=0*' || fail "before the request: $(control status)"
# The device's answer to the query is handled on the viewer's GUI thread, which then enables
# the grab button: give it a moment.
sleep 0.5

# The holder is asked each time (a message box of its own); "n" and "y" press its buttons.
ask_and_answer() { # key
  focus_window "$second_window"
  toolbar_click "$second_window" 2     # full screen, align, grab
  wait_for 30 reply_matches status '*holder=1 requester=2*' || fail "no request: $(control status)"
  question=$(window_of "$first_pid" "^tessaract$" "$first_window") || fail "the holder was not asked"
  focus_window "$question"
  xdotool key "$1"
  wait_for 30 eval '! xdotool search --onlyvisible --pid "$first_pid" 2>/dev/null | grep -vxq "$first_window"' ||
    fail "the question stayed open"
}
# Acknowledgements (type 22) the second viewer has sent for grab results.
acks_are() { [[ $(grep -c '"channel":"km","viewer":2,"type":22,"payload":"00"' "$E2E_WORK/frames.jsonl") == "$1" ]]; }

# Refused: the holder keeps writing, the requester may ask again.
ask_and_answer n
frame_seen 30 '"channel":"km","viewer":1,"type":21,"payload":"01"' || fail "the holder did not refuse"
wait_for 30 acks_are 1 || fail "the requester did not acknowledge the refusal"
wait_for 30 reply_matches status '*holder=1 requester=0*' || fail "after refusing: $(control status)"
[[ $(grep -c '"channel":"km","viewer":2,"type":20,' "$E2E_WORK/frames.jsonl") == 1 ]] ||
  fail "one click sent more than one request"

# Given up.
ask_and_answer y
frame_seen 30 '"channel":"km","viewer":1,"type":21,"payload":"00"' || fail "the holder did not give up"
wait_for 30 reply_matches status '*holder=2 requester=0*' || fail "after the answer: $(control status)"
wait_for 30 acks_are 2 || fail "the new holder did not acknowledge the grant"

# Control has moved: the second viewer types, the first one's keys go nowhere.
focus_window "$first_window"
xdotool type --delay 30 'first'
focus_window "$second_window"
xdotool type --delay 30 'second'
wait_for 30 reply_matches console 'ok second' || fail "console after the hand-over: $(control console)"
sleep 0.5
[[ $(control console) != *first* ]] || fail "the old holder still types: $(control console)"

pass "privilege refused, then handed from viewer 1 to viewer 2"
