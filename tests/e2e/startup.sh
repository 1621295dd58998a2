#!/usr/bin/env bash
# Start-up: the viewer logs in on the keyboard/mouse channel and asks where it stands with
# the write privilege before anything else, then the media and video channels log in; the
# window title names the user, the one-based target and the device.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init startup "$@"

start_sim --width 640 --height 360 --user-name alice --user-id 4660 --dog-id 2
start_viewer

title=$(xdotool getwindowname "$WINDOW")
[[ $title == "Tessaract V2.1 2018.10.26 - Login User: alice DongleID:3 IP: 127.0.0.1" ]] ||
  fail "window title: $title"

# Every channel logs in with the user id (4660 = 0x1234); keyboard/mouse then asks for the
# privilege state, which the device answers by making this first viewer the holder.
frame_seen 50 '"channel":"video".*"type":50,"payload":"00001234"' || fail "no video login"
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"
frames=$(grep -o '"channel":"[a-z]*","viewer":[0-9]*,"type":[0-9-]*,"payload":"[0-9a-f]*"' \
           "$E2E_WORK/frames.jsonl" | sed 's/"channel":"\([a-z]*\)".*"type":\([0-9-]*\),"payload":"\([0-9a-f]*\)"/\1 \2 \3/')
km=$(grep '^km ' <<<"$frames" | head -2 | tr '\n' ';')
[[ $km == "km 50 00001234;km 23 00;" ]] || fail "first keyboard/mouse frames: $km"
[[ $(grep '^media ' <<<"$frames" | head -1) == "media 50 00001234" ]] || fail "media login missing"
[[ $(grep '^video ' <<<"$frames" | head -1) == "video 50 00001234" ]] || fail "video login missing"
# (The media channel may log in before the keyboard/mouse frames, which ride its send
# thread only once the window has handed them over, reach the wire.)

# The viewer's log shows the order in which it opened the channels.
log=$(find "$E2E_BIN/log" -name "tessaract_*_$(printf %06d "$VIEWER_PID")_*.log" 2>/dev/null | head -1)
[[ -n $log ]] || fail "no log file of the viewer"
order=$(grep -o 'H264Video::create_km_socket:\|km send userID\|create_km_socket success\.\|video userID send' "$log" |
        tr '\n' ';')
[[ $order == "H264Video::create_km_socket:;km send userID;create_km_socket success.;video userID send;" ]] ||
  fail "channel set-up order in the log: $order"
reply_matches status '*km:1 video:1 media:1*' || fail "status: $(control status)"

pass "title, logins in order, privilege held"
