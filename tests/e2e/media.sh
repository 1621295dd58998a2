#!/usr/bin/env bash
# Virtual media: the media button opens the dialog, which offers the disk image named in
# TESSARACT_IMAGES; Map presents it to the remote computer, which reads its label; Unmap
# takes it away again.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init media "$@"
make_disk_image

start_sim --width 640 --height 360
start_viewer
measure_toolbar "$WINDOW"
wait_for 50 reply_matches media '*mapped=0*' || fail "media: $(control media)"
frame_seen 50 '"channel":"media".*"type":50' || fail "no media login"

focus_window "$WINDOW"
toolbar_click "$WINDOW" 4          # full screen, align, grab, video settings, media
dialog=$(window_of "$VIEWER_PID" "Virtual Media Setting") || fail "the media dialog did not open"
focus_window "$dialog"
window_geometry "$dialog"
# The image is the only entry and selected. Map and Unmap sit side by side in the middle of
# the third row.
click_dialog() { xdotool mousemove --window "$dialog" $((WIN_W / 2 + $1)) 93 click 1; }
click_dialog -46                   # Map
wait_for 50 reply_matches media '*mapped=1*label="E2EDISK"*' || fail "after Map: $(control media)"
reply_matches media '*sectors=2048 ro=0*fs=ext2*' || fail "mapped disk: $(control media)"

click_dialog 45                    # Unmap
wait_for 50 reply_matches media '*mapped=0*' || fail "after Unmap: $(control media)"

pass "image mapped, label read, unmapped"
