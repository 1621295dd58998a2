# Shared set-up of the end-to-end scenarios: a private Xvfb, the simulator with its control
# port and JSON frame log, viewers started with the simulator's launch text, xdotool input.
# Sourced by each scenario script, which then calls
#
#   e2e_init NAME BIN_DIR ARTIFACT_ROOT   # Xvfb up; exit 77 (skip) when a tool is missing
#   start_sim [OPTION...]                  # simulator on free ports; sets SIM_PID, LAUNCH, PORT
#   start_viewer                           # a viewer against it; sets VIEWER_PID, WINDOW
#
# and ends with `pass "what was shown"`. Any `fail` saves a screenshot of the whole screen,
# the simulator's JSON lines, the programs' output and the viewers' logs under
# ARTIFACT_ROOT/NAME/ and exits 1.
# Every wait is bounded; the EXIT trap stops every process the scenario started.

set -uo pipefail

E2E_NAME=
E2E_BIN=
E2E_ARTIFACTS=
E2E_WORK=
E2E_PIDS=()
E2E_STARTED=$SECONDS
SIM_PID=
LAUNCH=
PORT=
VIEWER_PID=
WINDOW=
VIEWER_COUNT=0
VIEWER_PIDS=()

e2e_init() {
  E2E_NAME=${1:?scenario name}
  E2E_BIN=${2:?program folder}
  E2E_ARTIFACTS=${3:?artifact folder}/$E2E_NAME
  local tool
  for tool in Xvfb xdotool xdpyinfo xprop import identify convert compare; do
    command -v "$tool" >/dev/null || { echo "skip: $tool not installed"; exit 77; }
  done
  rm -rf "$E2E_ARTIFACTS"
  E2E_WORK=$(mktemp -d)
  trap e2e_cleanup EXIT
  start_xvfb
}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$E2E_WORK"
}

# Remembers a process of ours for the EXIT trap.
track() { E2E_PIDS+=("$1"); }

# A 512 KiB ext2 image labelled E2EDISK, offered to the media dialog through TESSARACT_IMAGES;
# its path is in $image. Skips the scenario without mke2fs.
make_disk_image() {
  command -v mke2fs >/dev/null || { echo "skip: mke2fs not installed"; exit 77; }
  image=$E2E_WORK/e2e-disk.img
  mke2fs -q -F -t ext2 -L E2EDISK "$image" 1024 >/dev/null 2>&1 || fail "cannot make a disk image"
  export TESSARACT_IMAGES=$image
}

fail() {
  echo "FAIL [$E2E_NAME]: $*"
  mkdir -p "$E2E_ARTIFACTS"
  [[ -n "${DISPLAY:-}" ]] && import -window root "$E2E_ARTIFACTS/screen.png" 2>/dev/null
  cp "$E2E_WORK"/*.jsonl "$E2E_WORK"/*.out "$E2E_WORK"/*.err "$E2E_WORK"/*.png \
     "$E2E_ARTIFACTS"/ 2>/dev/null
  local pid
  for pid in "${VIEWER_PIDS[@]}"; do # the viewers' own logs
    cp "$E2E_BIN"/log/tessaract_*_"$(printf %06d "$pid")"_*.log "$E2E_ARTIFACTS"/ 2>/dev/null
  done
  echo "--- saved under $E2E_ARTIFACTS"
  echo "--- simulator output (last lines)"
  tail -n 15 "$E2E_WORK/sim.out" "$E2E_WORK/sim.err" 2>/dev/null
  exit 1
}

pass() {
  echo "ok [$E2E_NAME] $* ($((SECONDS - E2E_STARTED)) s)"
  exit 0
}

# Polls a command every 0.1 s until it succeeds or TENTHS tenths of a second have passed.
#   wait_for TENTHS COMMAND...
wait_for() {
  local tenths=$1 i
  shift
  for ((i = 0; i < tenths; ++i)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

start_xvfb() {
  # -displayfd lets the server pick a display nobody else uses and tell us its number.
  local dfd display=
  exec {dfd}<> <(:)
  Xvfb -displayfd "$dfd" -screen 0 1600x1000x24 -nolisten tcp -noreset \
    >"$E2E_WORK/xvfb.out" 2>&1 &
  track $!
  read -r -t 10 -u "$dfd" display
  exec {dfd}>&-
  [[ -n "$display" ]] || fail "Xvfb did not start"
  export DISPLAY=:$display
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  wait_for 50 xdpyinfo >/dev/null 2>&1 || fail "Xvfb does not answer"
}

# Starts the simulator on free ports with its control port and JSON log; extra options are
# passed on (screen size, mouse mode, ...).
start_sim() {
  "$E2E_BIN/tessaract-sim" --port-video 0 --port-km 0 --port-media 0 --control-port 0 \
    --no-stdin --fps 15 --log-json "$E2E_WORK/frames.jsonl" --log-dir "$E2E_WORK/simlog" "$@" \
    >"$E2E_WORK/sim.out" 2>"$E2E_WORK/sim.err" &
  SIM_PID=$!
  track "$SIM_PID"
  wait_for 100 grep -q '^control:' "$E2E_WORK/sim.out" || fail "the simulator gave no control port"
  LAUNCH=$(sed -n 1p "$E2E_WORK/sim.out")
  PORT=$(sed -n 's/^control:\([0-9]*\)$/\1/p' "$E2E_WORK/sim.out")
  [[ $LAUNCH == "{"*"}" && -n $PORT ]] || fail "unexpected simulator start lines"
}

# One control command, its one reply line on standard output.
control() {
  local c reply=
  exec {c}<>"/dev/tcp/127.0.0.1/$PORT" || return 1
  printf '%s\n' "$1" >&"$c"
  read -r -t 5 -u "$c" reply
  exec {c}>&-
  printf '%s\n' "$reply"
}

# True when the control command's reply matches the glob pattern.
reply_matches() { [[ $(control "$1") == $2 ]]; }

# Starts a viewer with the simulator's launch text and waits for its window.
# Sets VIEWER_PID and WINDOW (X window id).
start_viewer() {
  VIEWER_COUNT=$((VIEWER_COUNT + 1))
  local n=$VIEWER_COUNT
  # A settings folder of its own: no window place remembered from another run.
  XDG_CONFIG_HOME="$E2E_WORK/config" \
    "$E2E_BIN/tessaract" "$LAUNCH" >"$E2E_WORK/viewer$n.out" 2>"$E2E_WORK/viewer$n.err" &
  VIEWER_PID=$!
  track "$VIEWER_PID"
  VIEWER_PIDS+=("$VIEWER_PID")
  WINDOW=
  local i
  for ((i = 0; i < 100; ++i)); do
    WINDOW=$(xdotool search --all --onlyvisible --pid "$VIEWER_PID" --name "Login User" 2>/dev/null | head -1)
    [[ -n $WINDOW ]] && break
    sleep 0.1
  done
  [[ -n $WINDOW ]] || fail "the window of viewer $n did not appear"
}

# Waits until the simulator has seen a received frame matching the extended regular
# expression, for example frame_seen 30 '"channel":"km".*"type":3,'.
frame_seen() { wait_for "$1" grep -Eq "$2" "$E2E_WORK/frames.jsonl"; }

# The keyboard reports the first viewer sent, in hex, one per line.
keyboard_reports() {
  grep -o '"channel":"km","viewer":1,"type":3,"payload":"[0-9a-f]*"' "$E2E_WORK/frames.jsonl" |
    sed 's/.*"payload":"\([0-9a-f]*\)"/\1/'
}

# Gives the viewer window the keyboard focus (there is no window manager to do it).
focus_window() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"
}

# Window geometry: sets WIN_X WIN_Y WIN_W WIN_H (root coordinates of the client area).
window_geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1" | sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=/WIN_&/p' \
          | sed 's/WIN_WIDTH/WIN_W/; s/WIN_HEIGHT/WIN_H/')"
}

# The viewer's toolbar lies left of the remote screen and its status line below it; the
# screen (the video label) fills the rest of the window. Sets TOOLBAR_W and STATUS_H from a
# window of the start size (toolbar + 800 x 600 + status line).
measure_toolbar() {
  window_geometry "$1"
  TOOLBAR_W=$((WIN_W - 800))
  STATUS_H=$((WIN_H - 600))
  ((TOOLBAR_W > 0 && TOOLBAR_W < 200 && STATUS_H > 0 && STATUS_H < 60)) ||
    fail "unexpected start size ${WIN_W}x$WIN_H"
}

# Where a W x H remote picture shows in an AW x AH area, as the viewer places it: scaled by
# one factor to fit (each side rounded), centred, the halving truncated.
# Sets SHOWN_W SHOWN_H OFF_X OFF_Y.
picture_placement() {
  read -r SHOWN_W SHOWN_H OFF_X OFF_Y < <(awk -v w="$1" -v h="$2" -v aw="$3" -v ah="$4" 'BEGIN {
    f = (w / h < aw / ah) ? ah / h : aw / w
    sw = int(f * w + 0.5); sh = int(f * h + 0.5)
    printf "%d %d %d %d\n", sw, sh, int((aw - sw) / 2), int((ah - sh) / 2) }')
}

# Photographs the remote screen area of window $1 (toolbar and status line cut off) into $2.
shoot_screen_area() {
  window_geometry "$1"
  import -window "$1" -crop "$((WIN_W - TOOLBAR_W))x$((WIN_H - STATUS_H))+${TOOLBAR_W}+0" +repage "$2" 2>/dev/null
}

# Compares the shot $1 with the simulator's picture $2 placed as the viewer must place it in
# the shot's area on the margin colour. Sets DIFF to the normalised RMS difference (0..1; 1
# when the images cannot be compared) and SHOWN_W SHOWN_H OFF_X OFF_Y.
placement_difference() {
  local aw ah pw ph out
  read -r aw ah < <(identify -format '%w %h\n' "$1")
  read -r pw ph < <(identify -format '%w %h\n' "$2")
  picture_placement "$pw" "$ph" "$aw" "$ah"
  convert "$2" -filter point -resize "${SHOWN_W}x${SHOWN_H}!" -background '#121314' \
    -extent "${aw}x${ah}-${OFF_X}-${OFF_Y}" "$E2E_WORK/expected.png"
  out=$(compare -metric RMSE "$1" "$E2E_WORK/expected.png" null: 2>&1)
  DIFF=1
  [[ $out =~ ^[0-9.e+-]+\ \(([0-9.e+-]+)\)$ ]] && DIFF=${BASH_REMATCH[1]}
}

# True when the shot $1 shows the picture $2 as placement_difference places it, within the
# losses of H.264 and nearest-pixel scaling (about 0.017 at 1280 x 720 in 800 x 600); the
# same picture one row off gives about 0.033, not centred 0.2.
shows_placed() {
  placement_difference "$1" "$2"
  awk -v d="$DIFF" 'BEGIN { exit !(d < 0.028) }'
}

# Clicks the visible toolbar button at position N (0 = top) of window $1 (after
# measure_toolbar). The buttons are stacked TOOLBAR_STEP pixels apart below a TOOLBAR_TOP
# margin (style sheet: padding, icon, spacing).
TOOLBAR_TOP=${TOOLBAR_TOP:-5}
TOOLBAR_STEP=${TOOLBAR_STEP:-43}
toolbar_click() {
  xdotool mousemove --window "$1" $((TOOLBAR_W / 2)) $((TOOLBAR_TOP + TOOLBAR_STEP * $2 + TOOLBAR_STEP / 2)) \
    click 1
}

# Waits for a visible window of process $1 whose title matches the regular expression $2
# (other than window $3); prints its id.
window_of() {
  local i found
  for ((i = 0; i < 50; ++i)); do
    found=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -vx "${3:-none}" |
            while read -r w; do [[ $(xdotool getwindowname "$w") =~ $2 ]] && echo "$w"; done | head -1)
    [[ -n $found ]] && { echo "$found"; return 0; }
    sleep 0.1
  done
  return 1
}

# Waits for a popup (an override-redirect window: a menu) of process $1 to be shown; keys
# sent before it is would go to the window below it.
popup_of() {
  local w i
  for ((i = 0; i < 50; ++i)); do
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
      xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
    done
    sleep 0.1
  done
  return 1
}

# A small window manager, for what only a window manager does (full screen). Exits 77 when
# none is installed.
start_wm() {
  command -v openbox >/dev/null || { echo "skip: openbox not installed"; exit 77; }
  openbox --sm-disable >"$E2E_WORK/wm.out" 2>&1 &
  track $!
  wait_for 50 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' ||
    fail "the window manager did not start"
}

# Waits until window $1 (after measure_toolbar) shows the remote screen as it stands, placed
# as it must be; the photographs stay in the work folder as shown-$2.png and remote.png.
screen_shown() {
  control "screenshot $E2E_WORK/remote.png" >/dev/null
  shoot_screen_area "$1" "$E2E_WORK/shown-$2.png"
  shows_placed "$E2E_WORK/shown-$2.png" "$E2E_WORK/remote.png"
}
wait_screen_shown() { wait_for 50 screen_shown "$1" "$2"; }
