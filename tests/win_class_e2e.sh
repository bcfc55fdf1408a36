#!/usr/bin/env bash
# A class published by quillon-publisher.exe with the real Verbena.dll under Wine (64- or 32-bit,
# as built): the desktop, with a known picture painted over it (top half red, bottom half blue)
# and the pointer on it, and the test microphone, to nginx-rtmp. The server's recording is decoded:
# H.264 + AAC, the picture upright in its colours with the red pointer marker on the blue half,
# and the 440 Hz tone. First --headless from a launch URL, then the window driven with 上课 and
# 下课 on a Wine desktop.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need xdotool xwininfo ffmpeg ffprobe python3
use_wine
copy_program
[ -f "$work/program/Verbena.dll" ] || fail "Verbena.dll is not built"
painter=$build_dir/capture/desktop_picture.exe
[ -f "$painter" ] || fail "$painter is not built"
cd "$work/elsewhere"
painter_pid=""
extra_cleanup() { stop_process "$painter_pid"; }

screen=1280x800
start_xvfb "$screen"
start_pulseaudio
start_rtmp_server
use_cjk_font
url="$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/room&4242")&"

# paint_desktop [DESKTOP-ARGS...]: the known picture over the screen (or a Wine desktop).
paint_desktop() {
  stop_process "$painter_pid"
  "$wine_loader" "$@" "$painter" </dev/null >/dev/null 2>&1 &
  painter_pid=$!
  wait_window 20 '^desktop picture$' >/dev/null || fail "the desktop picture did not appear"
}
# The newest recording, once the server has finished it.
recording() {
  stop_rtmp_server
  find "$rtmp_dir/record" -name '*.flv' -size +1k -newer "$work/started" | head -n 1
}
# check_class RECORDING WIDTHxHEIGHT X0 WHAT: H.264 + AAC of the whole screen; in the column from
# X0 to the right edge, red above the middle and blue below; the pointer marker (drawn on the 15
# lines above the pointer, from its column on) red on the blue half; the 440 Hz tone.
check_class() {
  local file=$1 size=$2 x0=$3 what=$4 hz
  local height=${size#*x}
  [ -n "$file" ] || fail "$what: nothing recorded"
  [ "$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
        -of csv=p=0 "$file")" = "h264,${size/x/,}" ] || fail "$what: not H.264 of the whole screen"
  [ "$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 \
        "$file")" = aac ] || fail "$what: no AAC sound"
  reddish "$(pixel "$file" $((x0 + 20)) 40)" || fail "$what: the top is not red (upside down?)"
  bluish "$(pixel "$file" $((x0 + 20)) $((height - 40)))" || fail "$what: the bottom is not blue"
  reddish "$(pixel "$file" $((pointer_x + 7)) $((pointer_y - 8)))" ||
    fail "$what: no pointer marker at the pointer"
  bluish "$(pixel "$file" $((pointer_x + 7)) $((pointer_y + 20)))" ||
    fail "$what: the marker is not where the pointer is"
  hz=$(tone "$file")
  near_440 "$hz" || fail "$what: tone at $hz Hz, not 440"
  pass "$what: H.264 $size with the desktop's picture, the pointer marker and a $hz Hz tone"
}

# --headless from a launch URL, on a Wine desktop of its own (the prefix's default one may belong
# to a program that had no display); explorer does not hand on the exit code, the log tells.
set_config VideoStyle=0 HaveAudio=1 ScreenWidth=1024 ScreenHeight=768 FrameRate=10 Bitrate=800
new_desktop 1024x768
paint_desktop "${desktop[@]}"
pointer_x=900 pointer_y=600
xdotool mousemove "$pointer_x" "$pointer_y"
touch "$work/started"
timeout 90 "$wine_loader" "${desktop[@]}" "$app" --headless --duration 5 "$url" </dev/null \
  >"$work/out" 2>"$work/err" || fail "--headless did not end"
wait_until 10 "--headless did not end its class" grep -q "class ended" "$work/err"
check_class "$(recording)" 1024x768 0 "--headless"

# The window on a Wine desktop of its own, the picture behind it: 上课, 5 s, 下课, close.
set_config ScreenWidth=1280 ScreenHeight=800
pointer_x=1240 pointer_y=640
start_rtmp_server "$rtmp_port"
new_desktop "$screen"
paint_desktop "${desktop[@]}"
touch "$work/started"
open_window "$url"
press_class_button "$main_window"
sleep 1
xdotool mousemove "$pointer_x" "$pointer_y"
sleep 5
press_class_button "$main_window"
sleep 1
type_key "$main_window" alt+F4
answer_message "直播结束!"
# The window goes. (Whether the process ends is the Windows program test's: here the Wine
# desktop may belong to the painter's or the program's explorer, which then waits for both.)
wait_until 15 "the window stayed after it was closed" no_window '^新一代网络教学系统'
stop_process "$program_pid"
program_pid=""
# Right of the window (some 1120 pixels wide, in the middle of the desktop) the picture shows.
check_class "$(recording)" 1280x800 1210 "the window's class"
echo "PASS"
