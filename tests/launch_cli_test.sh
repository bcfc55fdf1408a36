#!/usr/bin/env bash
# The command line of quillon-publisher, run from a copy of the program folder: the launch URL and
# the fast class store the address in the folder's config.ini whatever the working directory,
# --show-settings prints what the window would read, with and without an X server.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/launch_cli_checks.sh"
copy_program quillon-publisher
# A plain start registers the link handler for the user.
use_private_home
cd "$work/elsewhere"
unset DISPLAY

check_options
check_unusable_config
[ "$readonly_status" -eq 1 ] || fail "a link not stored in a read-only config.ini exited with $readonly_status"
[ "$(grep -c '设置没有保存: 无法写入 config.ini' "$work/out")" -eq 1 ] ||
  fail "a read-only config.ini is not told once: $(cat "$work/out")"

# A launch URL (escaped, carrying the scrambled address) stores the address; the window's
# absence is reported, not a failure.
run "$url" || fail "start with a launch URL"
[ ! -s "$work/out" ] || fail "a launch URL showed a message: $(cat "$work/out")"
check_url_stored

# A new config.ini reaches the disk before its rename replaces the old one, and the folder after
# it: a power cut leaves the old file or the new one, never an empty one.
need strace
strace -f -o "$work/trace" -e trace=openat,fsync,rename,renameat,renameat2 "$app" "$url" \
  </dev/null >/dev/null 2>&1 || fail "start with a launch URL under strace"
awk -v file="$config" -v folder="$work/program" '
  step == 0 && index($0, "\"" file ".tmp") && /O_CREAT/ { fd = $NF; step = 1; next }
  step == 1 && $2 ~ "^fsync\\(" fd "\\)" && $NF == 0 { step = 2; next }
  step == 1 && /rename/ { exit }
  step == 2 && /rename/ && index($0, "\"" file "\")") && $NF == 0 { step = 3; next }
  step == 3 && index($0, "\"" folder "\"") && /O_DIRECTORY/ { fd = $NF; step = 4; next }
  step == 4 && $2 ~ "^fsync\\(" fd "\\)" && $NF == 0 { step = 5 }
  END { exit step != 5 }' "$work/trace" ||
  fail "config.ini is not flushed before its rename and its folder after it: $(grep -e fsync -e rename "$work/trace")"

# Started bare (or with one character): fast class on the default server, message on stdout.
QUILLON_DEFAULT_SERVER=rtmp.school.test run x || fail "fast class"
number=$(sed -n 's/.*课堂ID是\([0-9]*\),.*/\1/p' "$work/out")
[ -n "$number" ] || fail "no class number in: $(cat "$work/out")"
run --show-settings || fail "--show-settings after a fast class"
expect_line "$work/out" "PublishUrl=rtmp://rtmp.school.test:10086/encoder/zel/mp4:$number.mp4"
expect_line "$work/out" "StreamName=$number"

# Without a display the screen size stays as config.ini holds it.
set_config ScreenWidth=0 FrameRate=0
run --show-settings || fail "--show-settings without display"
expect_line "$work/out" "ScreenWidth=0"
grep -q 'DISPLAY is not set' "$work/err" || fail "no note about the missing display"
grep -q 'FrameRate=0 无效, 需要 1 到 120' "$work/err" || fail "no note about FrameRate=0"

# With an X server the zero size becomes the screen's, rounded down to a multiple of 4.
if command -v Xvfb >/dev/null; then
  start_xvfb 1366x770
  run --show-settings || fail "--show-settings with display"
  expect_line "$work/out" "ScreenWidth=1364"
  expect_line "$work/out" "ScreenHeight=768"
  grep -q 'a class publishes the whole primary display, 1364x768' "$work/err" ||
    fail "--show-settings does not say that the display gives the size"
else
  echo "SKIP: no Xvfb, the display part is not tested"
fi
echo "PASS"
