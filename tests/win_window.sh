#!/usr/bin/env bash
# The Windows main window under Wine on a private X server, inside Wine's virtual desktop (so that
# it gets a title bar): the window test program checks controls, menus, the page and a class run;
# this script takes a screenshot while the window waits, keeps it in the build folder and checks
# that it is not blank.
#   win_window.sh PATH/publisher_dlg_win_test.exe
test_program=${1:?usage: win_window.sh PATH/publisher_dlg_win_test.exe}
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need ffmpeg
use_wine
start_xvfb 1280x800
use_cjk_font
failure_files+=(program.log)

mkdir -p "$work/shots"
new_desktop 1280x800
(cd "$work" && exec timeout 90 "$wine_loader" "${desktop[@]}" "$test_program" \
  --screenshot-dir "$(windows_path "$work/shots")" \
  --gtest_output="xml:$(windows_path "$work/result.xml")") >"$work/program.log" 2>&1 &
program_pid=$!

# The window says when it is shown, then waits for the picture.
shown_or_ended() { [ -e "$work/shots/shown" ] || gone "$program_pid"; }
wait_for 60 shown_or_ended || true
[ -e "$work/shots/shown" ] || fail "the window was never shown"
sleep 0.5
shot="$build_dir/test-output/win_window.png"
take_screenshot "$shot" 1280x800
touch "$work/shots/shot.done"
pass "screenshot in $shot"

wait_for 60 gone "$program_pid" || fail "the window test did not end"
wait "$program_pid" || true
program_pid=""
wait_until 5 "the window test wrote no report" test -s "$work/result.xml"
check_gtest_report "$work/result.xml" "the window test" 3
pass "window test: $(grep -c '<testcase' "$work/result.xml") cases passed"
