#!/usr/bin/env bash
# The GDI desktop grab and the pointer marker of the Windows build, under Wine on a private Xvfb:
# runs capture/screen_grabber_gdi_test.exe, which paints a window of its own and grabs it.
set -euo pipefail
source_dir=${QUILLON_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
build_dir=${QUILLON_BUILD_DIR:-$source_dir/build-win64}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
test_program=$build_dir/capture/screen_grabber_gdi_test.exe
work=$(mktemp -d /tmp/win-screen-grab.XXXXXX)
xvfb_pid=""

on_exit() {
  local status=$?
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap on_exit EXIT
trap 'exit 130' INT TERM

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$test_program" ] || fail "$test_program is not built"
command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/setup installs it)"
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine) || fail "wine is not installed"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$source_dir/scripts/wine" start "$WINEPREFIX"
fi

# A display number of the server's own choosing, so parallel tests never collide.
exec 3< <(exec Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 640x480x24 2>/dev/null)
xvfb_pid=$!
read -r -t 15 display_number <&3 || fail "Xvfb did not start"
export DISPLAY=:$display_number

# On a Wine desktop of its own: the prefix's default desktop belongs to whichever Wine program
# started first, maybe one without an X display, and then no later program can make windows.
# explorer does not pass on the program's exit code: the test report says how it went.
report=$work/report.xml
timeout -k 5 90 "$wine64" explorer "/desktop=quillon-grab-$$,640x480" "$test_program" \
  --gtest_color=no "--gtest_output=xml:Z:${report//\//\\}" 2>&1 |
  grep -v -e '^fixme:' -e ':fixme:' || true
[ -s "$report" ] || fail "the desktop grab test under Wine did not finish"
grep -q '<testsuites tests="[1-9][0-9]*" failures="0" disabled="0" errors="0"' "$report" ||
  { cat "$report" >&2; fail "the desktop grab test under Wine failed"; }
echo "ok: GDI grab and pointer marker under Wine"
