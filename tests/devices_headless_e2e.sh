#!/usr/bin/env bash
# quillon-publisher --headless with a camera and sound, for picture types 1, 2 and 3, publishing
# with the real encoder library to a local RTMP server; the recordings are decoded and checked:
# test camera A's colour bars where the picture type puts the camera, and the 440 Hz tone.
# Needs the encoder library (libverbena.so in the program folder), scripts/rtmp-server, ffmpeg,
# and --headless choosing sound position 1 as the window does.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$program_dir/libverbena.so" ] || fail "the encoder library is not built"
start_xvfb 640x480 -br  # a black desktop: the inset checks look for it
use_test_cameras
start_pulseaudio
start_rtmp_server
copy_program

for style in 1 2 3; do
  # Camera 320x240 on a 640x480 desktop, with sound.
  set_config "VideoStyle=$style" ScreenWidth=640 ScreenHeight=480 VideoWidth=320 VideoHeight=240 \
    Bitrate=800 HaveAudio=1
  timeout 60 "$app" --headless --duration 4 --status-interval 1 \
    "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/cam$style&4242")&" >"$work/out" 2>"$work/err" ||
    fail "style $style: exit $?"
  sleep 1
  recording=$(recorded "cam$style")
  case $style in
    1)  # the camera is the whole picture: grey bar top left, the blue bar at the top right
      bright_grey "$(pixel "$recording" 5 5)" || fail "style 1: no camera bars at the top left"
      read -r r _ b <<< "$(pixel "$recording" 315 60)"
      [ "$b" -gt 140 ] && [ "$r" -lt 80 ] || fail "style 1: no blue bar at the top right" ;;
    2)  # the desktop (black) with the camera inset 160x120 in the bottom left corner
      bright_grey "$(pixel "$recording" 5 365)" || fail "style 2: no camera inset bottom left"
      dark "$(pixel "$recording" 600 20)" || fail "style 2: the desktop is not where expected" ;;
    3)  # the camera large with the desktop inset 80x60 in the bottom left corner
      bright_grey "$(pixel "$recording" 5 5)" || fail "style 3: no camera picture"
      dark "$(pixel "$recording" 5 235)" || fail "style 3: no desktop inset bottom left" ;;
  esac
  hz=$(tone "$recording")
  near_440 "$hz" || fail "style $style: tone at $hz Hz, not 440"
  grep -q "status: 正在直播 00:0[0-9] · [1-9][0-9]* kb/s · 音量 ▮" "$work/err" ||
    fail "style $style: the status does not show the class live with a rate and the sound level"
  echo "style $style: camera where expected, tone $hz Hz"
done

# A camera that does not open (the camera alone) leaves the class without a picture, and says
# so. (The status through a break of the server: window_e2e.sh.)
set_config VideoStyle=1 DeviceID=7
timeout 60 "$app" --headless --duration 3 --status-interval 0 \
  "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/nocam&4243")&" >"$work/out" 2>"$work/err" ||
  fail "the class without a camera ended with $?"
grep -q "status: 正在直播.* · 没有画面" "$work/err" || fail "a class without a picture does not say so"
pass "the status tells of the missing picture"

# Nothing listens on the address: "连接服务器失败" and why, and exit code 1.
stop_rtmp_server
status=0
"$app" --headless --duration 2 "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/none&4244")&" \
  >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "a start with no server exited with $status"
grep -qx "127.0.0.1:$rtmp_port 没有接受连接（服务器没有运行，或端口不对）：rtmp://127.0.0.1:$rtmp_port/live/none" \
  "$work/err" || fail "the failed start does not say why"
pass "a start with no server says why"
echo "PASS"
