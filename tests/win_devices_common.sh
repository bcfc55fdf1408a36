# Sourced by the Windows device tests: the Wine prefix and the test program of the Windows build,
# a temporary folder $work removed on exit, and fail(). Callers add their own servers to cleanup
# through the extra_cleanup function.
set -euo pipefail
: "${QUILLON_BUILD_DIR:?}" "${QUILLON_SOURCE_DIR:?}"
export WINEPREFIX=${WINEPREFIX:-$QUILLON_BUILD_DIR/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
test_program="$QUILLON_BUILD_DIR/devices/devices_win_test.exe"

work=$(mktemp -d)
extra_cleanup() { :; }
cleanup() {
  extra_cleanup || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -f "$test_program" ] || fail "$test_program is not built"

# Runs the test program under Wine with a gtest filter, for at most 60 s, and fails unless every
# selected test ran and passed (none skipped: the scripts give them what they need). With
# "desktop" as second argument it runs on a Wine desktop of its own: the default desktop belongs to
# whichever Wine program started first, maybe one without an X display, and then windows of
# later programs cannot be made.
run_test_program() {
  local filter=$1 report="$work/report.xml"
  local report_windows="Z:${report//\//\\}"
  local launcher=()
  [ "${2:-}" = desktop ] && launcher=(explorer "/desktop=quillon-devices-$$,320x240")
  rm -f "$report"
  # explorer does not pass on the program's exit code: the report says how it went.
  timeout -k 5 60 "$wine64" "${launcher[@]}" "$test_program" --gtest_color=no \
    "--gtest_filter=$filter" "--gtest_output=xml:$report_windows" || true
  [ -s "$report" ] || fail "the Windows device test ($filter) did not finish"
  head -n 3 "$report" | grep -q '<testsuites tests="[1-9][0-9]*" failures="0" disabled="0" errors="0"' ||
    fail "the Windows device test ($filter) failed"
  if grep -q '<skipped' "$report"; then fail "the Windows device test ($filter) skipped tests"; fi
}
