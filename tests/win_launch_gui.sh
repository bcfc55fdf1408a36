#!/usr/bin/env bash
# Under Wine on a private X server: the skin library AppFace.dll on real dialogs and the message
# box (window_basics_win_test.exe), each test in a process of its own, so that the test without
# the library starts without it. Each runs on a Wine virtual desktop of its own: the prefix's
# default desktop may belong to a run without a display, where no window can be created.
set -euo pipefail
test_program=${1:?usage: win_launch_gui.sh WINDOW_BASICS_TEST_EXE}
source "$(dirname "$0")/win_launch_common.sh"
start_xvfb 1024x768x24
display=$xvfb_display

DISPLAY= timeout 60 "$wine64" "$test_program" --gtest_list_tests </dev/null >"$work/list" 2>&1 ||
  { cat "$work/list" >&2; fail "cannot list the tests"; }
suite=""
tests=()
while IFS= read -r line; do
  line=${line%$'\r'}
  case "$line" in
    "  "*) tests+=("$suite${line#  }") ;;
    *.) suite=$line ;;
  esac
done <"$work/list"
[ ${#tests[@]} -gt 0 ] || fail "no tests listed"

failed=0
for name in "${tests[@]}"; do
  # The desktop's explorer does not hand on the exit code: gtest's summary tells.
  DISPLAY=$display timeout 60 "$wine64" explorer "/desktop=quillon_test_$$,1024x768" \
    "$test_program" --gtest_filter="$name" </dev/null >"$work/out" 2>&1 || true
  if grep -q '^\[  PASSED  \] 1 test' "$work/out" && ! grep -q 'FAILED' "$work/out"; then
    echo "ok: $name"
  else
    tr -d '\r' <"$work/out" >&2
    echo "FAILED: $name" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "PASS"
