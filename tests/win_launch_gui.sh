#!/usr/bin/env bash
# Under Wine on a private X server: the skin library AppFace.dll on real dialogs
# (window_basics_win_test.exe), each test in a process of its own, so that the test without the
# library starts without it, and on a Wine virtual desktop of its own.
test_program=${1:?usage: win_launch_gui.sh WINDOW_BASICS_TEST_EXE}
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
use_wine
start_xvfb 1024x768

DISPLAY='' timeout 60 "$wine_loader" "$test_program" --gtest_list_tests </dev/null >"$work/list" 2>&1 ||
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
  new_desktop 1024x768  # gtest's summary tells how it went
  timeout 60 "$wine_loader" "${desktop[@]}" "$test_program" --gtest_filter="$name" </dev/null \
    >"$work/out" 2>&1 || true
  if grep -q '^\[  PASSED  \] 1 test' "$work/out" && ! grep -q 'FAILED' "$work/out"; then
    pass "$name"
  else
    tr -d '\r' <"$work/out" >&2
    echo "FAILED: $name" >&2
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1
echo "PASS"
