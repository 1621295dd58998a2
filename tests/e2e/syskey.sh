#!/usr/bin/env bash
# A key combination the local desktop would swallow, chosen from the system key menu:
# Ctrl+Alt+Del reaches the device as one report with both modifiers and Delete, then one
# report with every key up, and nothing else.
source "$(dirname "$0")/e2e_lib.sh"
e2e_init syskey "$@"

start_sim --width 640 --height 360
start_viewer
measure_toolbar "$WINDOW"
wait_for 50 reply_matches status '*holder=1*' || fail "the viewer never got the write privilege"

focus_window "$WINDOW"
# Full screen, align, grab, video settings, media, mouse hide, then the menu button.
toolbar_click "$WINDOW" 6
popup_of "$VIEWER_PID" || fail "the system key menu did not open"
# The menu, in key.xml order: Alt+F4, Alt+Tab, Ctrl+Alt+Backspace, Ctrl+Alt+Del, ...
xdotool key --delay 50 Down Down Down Down Return
frame_seen 30 '"channel":"km".*"type":3,"payload":"0000000000000000"' || fail "no keyboard report"
sleep 0.5
reports=$(keyboard_reports | tr '\n' ' ')
# Left Control (0x01) + left Alt (0x04) with Delete (usage 0x4C), then every key up. The
# keys that drove the menu press nothing remotely; the release of the Return that chose the
# item comes after the menu has closed and goes out as one more all-up report.
[[ $reports == "05004c0000000000 0000000000000000 "* ]] || fail "keyboard reports: $reports"
[[ $(tr ' ' '\n' <<<"$reports" | grep -v '^0*$' | wc -l) == 1 ]] || fail "keyboard reports: $reports"

pass "Ctrl+Alt+Del as one report and a release"
