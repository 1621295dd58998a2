#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks the program folder's shape and the
# desktop entry, makes the folder read-only and runs the installed simulator and a viewer
# against it: their logs must appear under $XDG_STATE_HOME/tessaract/log/, the settings files
# under ~/.config/tessaract/, and nothing may be written into the program folder. Run as root, both run as "nobody" (root writes into
# read-only folders); skipped (77) where that is not possible.
#
#   install_read_only.sh BUILD_DIR
set -uo pipefail

build=${1:?build folder}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  tail -n 20 "$work"/*.out "$work"/*.err 2>/dev/null
  exit 1
}
wait_for() { # TENTHS COMMAND...
  local i
  for ((i = 0; i < $1; ++i)); do "${@:2}" && return 0; sleep 0.1; done
  "${@:2}"
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 || fail "cmake --install failed"
bin=$prefix/bin
for file in tessaract serbridge ledsync tessaract-sim; do
  [[ -x $bin/$file ]] || fail "$file missing from the program folder"
done
for file in config.xml key.xml; do
  cmp -s "$bin/$file" "$build/bin/$file" || fail "$file missing or different"
done
entry=$prefix/share/applications/tessaract-sim.desktop
grep -qx "Exec=$bin/tessaract-sim --launch $bin/tessaract" "$entry" || fail "desktop entry: $(cat "$entry")"
[[ -f $prefix/share/icons/hicolor/scalable/apps/tessaract-sim.svg ]] || fail "icon missing"

run_as=()
if ((EUID == 0)); then
  command -v setpriv >/dev/null || { echo "skip: root without setpriv"; exit 77; }
  id nobody >/dev/null 2>&1 || { echo "skip: no user nobody"; exit 77; }
  run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  chmod 755 "$work"
fi
state=$work/state
mkdir -p "$state"
((EUID == 0)) && chown nobody "$state"
chmod -R a-w "$bin"

# The installed demo as a user starts it: simulator and viewer, no log folder given.
env QT_QPA_PLATFORM=offscreen XDG_STATE_HOME="$state" XDG_RUNTIME_DIR= HOME="$state" \
  "${run_as[@]}" "$bin/tessaract-sim" --port-video 0 --port-km 0 --port-media 0 --no-stdin \
  --width 320 --height 240 --fps 5 >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for 100 test -s "$work/sim.out" || fail "the simulator printed no launch text"
launch=$(sed -n 1p "$work/sim.out")

env QT_QPA_PLATFORM=offscreen XDG_STATE_HOME="$state" XDG_RUNTIME_DIR= HOME="$state" \
  "${run_as[@]}" "$bin/tessaract" "$launch" >"$work/viewer.out" 2>"$work/viewer.err" &
pids+=($!)
logged() { # PROGRAM TEXT
  grep -qs "$2" "$state"/tessaract/log/"$1"_*.log
}
wait_for 100 logged tessaract 'create_km_socket success\.' ||
  fail "no viewer log under $state/tessaract/log: $(ls -R "$state")"
wait_for 100 logged tessaract-sim 'km viewer 1 connected' ||
  fail "no simulator log under $state/tessaract/log: $(ls -R "$state")"
[[ ! -e $bin/log ]] || fail "a program wrote into its read-only folder"
# Its settings move to the per-user folder, seeded with the installed files and writable,
# so what the user changes in the dialogs is kept.
settings=$state/.config/tessaract
logged tessaract "settings are read from and saved to $settings" || fail "settings folder not logged"
for file in config.xml key.xml; do
  cmp -s "$settings/$file" "$build/bin/$file" || fail "$file not seeded into $settings"
  "${run_as[@]}" test -w "$settings/$file" || fail "$settings/$file is not writable by its user"
done

echo "ok: installed layout complete; read-only program folder logs to $state/tessaract/log/"
