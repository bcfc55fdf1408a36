#!/usr/bin/env bash
# The window on a 1024 x 768 projector screen, with a test camera and the test microphone: a
# config.ini that has gone missing is made again (and the teacher told), the window fits the
# screen, the shipped settings publish the whole screen, and what the camera and the sound capture
# report reaches the teacher in boxes: the sound server going away during a class, a camera that
# refuses the picture size. Screenshots are kept in build/test-artifacts/.
#   window_devices_e2e.sh X_CLOSE_WINDOW
close_window=${1:?usage: window_devices_e2e.sh X_CLOSE_WINDOW}
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need Xvfb xdotool xwininfo ffmpeg ffprobe
artifacts=$build_dir/test-artifacts
failure_files=(program.log)

copy_program
use_private_home
start_xvfb 1024x768
use_test_cameras
start_pulseaudio
start_rtmp_server
rm "$config"

# Answers the box that says $1 (the log keeps what each box said) and sees it go.
answer() {  # text
  wait_for 30 logged "message: $1" || fail "no box saying \"$1\""
  answer_message "$1"
}
"$app" "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/20141024&20141024")&" \
  >"$work/program.log" 2>&1 &
program_pid=$!
answer "没有找到设置文件 config.ini"
window=$(wait_window 60 '新一代网络教学系统') || fail "no window after the missing config.ini"
config_has '^ScreenWidth=0' || fail "config.ini was not made from the shipped default"
! grep -qE 'qt.webengine|Init Parameters|Surface Type' "$work/program.log" ||
  fail "the web engine's diagnostics reach the terminal"
pass "a missing config.ini is made again and the teacher told"

eval "$(xdotool getwindowgeometry --shell "$window")"  # X Y WIDTH HEIGHT
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
  fail "the window (${WIDTH}x$HEIGHT at $X,$Y) does not fit the 1024x768 screen"
narrower=$(sed -n 's/.* the classroom page is \([0-9]*\) px narrower.*/\1/p' "$work/program.log")
sleep 3  # the page draws
take_screenshot "$artifacts/window_1024x768.png" 1024x768
# The picture-type list open, its second entry under the pointer: readable when highlighted.
click 100 137
sleep 0.5
xdotool mousemove_relative 0 "$((HEIGHT * 14 / 385))"
sleep 0.5
take_screenshot "$artifacts/window_list_open.png" 1024x768
xdotool key Escape
sleep 0.3
xdotool mousemove --window "$window" 10 10 key alt+a  # the about box
about=$(wait_window 10 '^关于$') || fail "Alt+A did not open the about box"
take_screenshot "$artifacts/window_about.png" 1024x768
type_key "$about" Escape
wait_until 5 "the about box stayed open" no_window "^关于$"
pass "the window fits 1024x768 (${WIDTH}x$HEIGHT at $X,$Y); screenshots in $artifacts"

# A class with the shipped settings and sound; the sound server goes away during it.
click 78 62
wait_for 10 logged "status: 正在直播" || fail "the class did not go live"
sleep 3
pkill -f -- "$work/pulse/test.pa" || fail "the sound server was not running"
wait_for 30 logged "message: Error handling PulseAudio notifications." ||
  fail "no box when the sound server went away"
take_screenshot "$artifacts/window_sound_lost.png" 1024x768
answer "Error handling PulseAudio notifications."
click 78 62
pass "the sound server going away is told in a box"

# A camera that cannot give the picture size of config.ini.
set_config VideoStyle=1 VideoWidth=2000 VideoHeight=1000
click 78 62
answer "Failed to set camera video size!"
click 78 62
pass "a camera that refuses the size is told in a box"

"$close_window" "$window" || fail "could not ask the window to close"
answer "直播结束!"
wait_for 10 gone "$program_pid" || fail "the program did not end"
program_pid=""
stop_rtmp_server
check_video "$(ls -t "$rtmp_dir"/record/*20141024*.flv | tail -1)" 1024,768
pass "the shipped settings publish the whole 1024x768 screen"
echo "window_devices_e2e: all checks passed"
