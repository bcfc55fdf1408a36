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

# Runs the test program under Wine with a gtest filter, for at most 60 s.
run_test_program() {
  timeout -k 5 60 "$wine64" "$test_program" --gtest_color=no "--gtest_filter=$1" ||
    fail "the Windows device test ($1) failed"
}
