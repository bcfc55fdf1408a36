#!/usr/bin/env bash
# The real quillon-publisher.exe under Wine, driven like a teacher would: a copy of the program
# folder with the recording encoder library as Verbena.dll, started by a launch URL on a Wine
# virtual desktop of a private X server. The test presses 上课, sees the encoder made with the
# stored address and pictures arriving, keeps a screenshot, presses 下课, closes the window,
# answers "直播结束!" and sees the process end.
set -euo pipefail
program_dir=${QUILLON_PROGRAM_DIR:?}
source "$(dirname "$0")/win_launch_common.sh"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/packages lists it)"
command -v xwininfo >/dev/null || fail "xwininfo is not installed (scripts/packages lists x11-utils)"
fake=$build_dir/capture/libfake_verbena.dll
[ -f "$fake" ] || fail "$fake is not built"

program_pid=""
extra_cleanup() {
  [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
}

cp -r "$program_dir" "$work/program"
cp "$fake" "$work/program/Verbena.dll"
# The desktop alone, no sound, a small picture at 10 frames/s: 320 x 240 x 3 bytes a picture.
sed -i -e 's/^VideoStyle=[^\r]*/VideoStyle=0/' -e 's/^HaveAudio=[^\r]*/HaveAudio=0/' \
  -e 's/^ScreenWidth=[^\r]*/ScreenWidth=320/' -e 's/^ScreenHeight=[^\r]*/ScreenHeight=240/' \
  -e 's/^FrameRate=[^\r]*/FrameRate=10/' "$work/program/config.ini"
picture_bytes=$((320 * 240 * 3))
export FAKE_VERBENA_LOG="$work/log"
: >"$work/log"
mkdir "$work/elsewhere"
cd "$work/elsewhere"  # the program finds its folder itself

# The dialog is some 1120 x 680 pixels: the desktop has room for all of it.
screen=1280x800
start_xvfb "${screen}x24"
export DISPLAY=$xvfb_display
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
timeout -k 5 60 "$wine64" explorer "/desktop=quillon_program_$$,$screen" \
  "$work/program/quillon-publisher.exe" "$url" </dev/null >"$work/out" 2>"$work/err" &
program_pid=$!

# Wine gives each top-level window an X window of its own, named by its title.
find_window() {  # title pattern; sets window
  window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$window" ]
}
wait_until 20 "the main window did not appear" find_window '^新一代网络教学系统.* Build '
main_window=$window

# 上课 and 下课 share one place in dialog template 102: x 41, y 54, 75 x 16 dialog units in a
# client area of 638 x 373. The X window is the whole window; Wine's dialog frame is 3 pixels
# on each side and its caption 19 pixels high. Scaling by the client area's size keeps the place
# right whatever font stands in for the dialog's.
geometry=$(xwininfo -id "$main_window")
width=$(sed -n 's/^ *Width: //p' <<<"$geometry")
height=$(sed -n 's/^ *Height: //p' <<<"$geometry")
frame=3 caption=19
button_x=$((frame + (41 * 2 + 75) * (width - 2 * frame) / (2 * 638)))
button_y=$((frame + caption + (54 * 2 + 16) * (height - 2 * frame - caption) / (2 * 373)))
press_class_button() {
  xdotool mousemove --window "$main_window" "$button_x" "$button_y" click 1
}

log_has() { tr -d '\r' <"$work/log" | grep -q -- "$1"; }
pictures() { tr -d '\r' <"$work/log" | grep -c "^PutVideoData .* length=$picture_bytes " || true; }
pictures_at_least() { [ "$(pictures)" -ge "$1" ]; }

# 上课: the encoder is made with the address the launch URL stored, and pictures arrive.
press_class_button
wait_until 10 "上课 did not create the encoder" log_has '^Start '
log_has '^CreateEncoder .* width=320 height=240 .*url=rtmp://127.0.0.1:1935/live$' ||
  fail "the encoder was not made with the desktop size and the stored address"
wait_until 10 "no pictures reached the encoder" pictures_at_least 5
echo "ok: 上课 publishes ($(pictures) pictures so far)"

shot=$build_dir/test-output/win_program.png
take_screenshot "$shot" "$screen"
echo "ok: screenshot in $shot"

# 下课: the encoder stops, and no picture follows its stop.
press_class_button
wait_until 10 "下课 did not stop the encoder" log_has '^Stop '
sleep 0.5  # a tick that would wrongly follow the stop has time to show
tr -d '\r' <"$work/log" | sed -n '/^Stop /,$p' | grep -q '^PutVideoData' &&
  fail "pictures reached the encoder after its stop"
echo "ok: 下课 stops the encoder after $(pictures) pictures"

# Closing the window: "直播结束!" in a box captioned with the program's name; Enter answers it and
# the program ends.
xdotool key --window "$main_window" alt+F4
wait_until 10 "closing the window showed no message" find_window '^quillon-publisher$'
xdotool key --window "$window" Return
program_ended() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_until 10 "the program did not end after its window closed" program_ended
program_pid=""
[ "$(grep -c '^CreateEncoder ' "$work/log")" -eq 1 ] || fail "more than one encoder was made"

# The launch URL's address stays in the copy's config.ini beside the window's choices.
tr -d '\r' <"$work/program/config.ini" | grep -q '^Address=svpq<2035803/212<4:580nlwg)dndtu73$' ||
  fail "the address is gone from config.ini"
echo "PASS"
