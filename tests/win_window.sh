#!/usr/bin/env bash
# The Windows main window under Wine on a private X server, inside Wine's virtual desktop (so that
# it gets a title bar): the window test program checks controls, menus, the page and a class run;
# this script takes a screenshot while the window waits, keeps it in the build folder and checks
# that it is not blank.
#   win_window.sh PATH/publisher_dlg_win_test.exe
set -euo pipefail
test_program=${1:?usage: win_window.sh PATH/publisher_dlg_win_test.exe}
build_dir=${QUILLON_BUILD_DIR:?}
source_dir=${QUILLON_SOURCE_DIR:?}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix} WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: without Gecko the page control exists but shows nothing.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)

work=$(mktemp -d)
xvfb_pid="" program_pid=""
on_exit() {
  local status=$?
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
  fi
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  if [ "$status" -ne 0 ]; then
    [ ! -s "$work/result.xml" ] || grep -B2 -A6 '<failure' "$work/result.xml" >&2 || true
    [ ! -s "$work/program.log" ] || tail -40 "$work/program.log" >&2
  fi
  rm -rf "$work"
  exit "$status"
}
trap on_exit EXIT
trap 'exit 130' INT TERM
fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

for tool in Xvfb ffmpeg winepath; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done
[ -f "$WINEPREFIX/system.reg" ] || "$source_dir/scripts/wine" start "$WINEPREFIX" >/dev/null

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

source "$source_dir/tests/win_gui.sh"
use_cjk_font

mkdir -p "$work/shots"
shots_win=$(winepath -w "$work/shots")
result_win=$(winepath -w "$work/result.xml")
program_win=$(winepath -w "$test_program")
(cd "$work" && exec timeout 90 "$wine64" explorer /desktop=quillon,1280x800 "$program_win" \
  --screenshot-dir "$shots_win" --gtest_output="xml:$result_win") >"$work/program.log" 2>&1 &
program_pid=$!

# The window says when it is shown, then waits for the picture.
for _ in $(seq 600); do
  [ -e "$work/shots/shown" ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
[ -e "$work/shots/shown" ] || fail "the window was never shown"
sleep 0.5
out_dir="$build_dir/test-output"
mkdir -p "$out_dir"
shot="$out_dir/win_window.png"
take_screenshot "$shot" 1280x800
touch "$work/shots/shot.done"
pass "screenshot in $shot"

for _ in $(seq 600); do
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program_pid" 2>/dev/null && fail "the window test did not end"
wait "$program_pid" || true
program_pid=""
# explorer's virtual desktop does not hand on the program's exit code: the report does.
for _ in $(seq 50); do [ -s "$work/result.xml" ] && break; sleep 0.1; done
[ -s "$work/result.xml" ] || fail "the window test wrote no report"
grep -q '<testsuites tests="3" failures="0" disabled="0" errors="0"' "$work/result.xml" \
  || fail "the window test failed"
pass "window test: $(grep -c '<testcase' "$work/result.xml") cases passed"
