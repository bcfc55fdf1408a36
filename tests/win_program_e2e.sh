#!/usr/bin/env bash
# The real quillon-publisher.exe under Wine, driven like a teacher would: a copy of the program
# folder with the recording encoder library as Verbena.dll, started by a launch URL on a Wine
# virtual desktop of a private X server, with sound from a PulseAudio daemon of its own. The test
# presses 上课, sees the encoder made with the stored address and pictures and sound arriving,
# keeps a screenshot, presses 下课, starts a second class and closes the window during it, answers
# "直播结束!" and sees the class and the process end.
# A second run whose encoder cannot start shows "连接服务器失败" and lets the teacher try again.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need xdotool xwininfo ffmpeg
use_wine
copy_program
use_fake_encoder
# The desktop alone and sound, a small picture at 10 frames/s: 320 x 240 x 3 bytes a picture.
set_config VideoStyle=0 HaveAudio=1 ScreenWidth=320 ScreenHeight=240 FrameRate=10
picture_bytes=$((320 * 240 * 3))
cd "$work/elsewhere"

use_cjk_font
# The dialog is some 1120 x 680 pixels: the desktop has room for all of it.
screen=1280x800
start_xvfb "$screen"
# Sound from a PulseAudio daemon of the test's own: the window chooses its default device.
start_pulseaudio
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'

# What reached the recording encoder library.
pictures() { encoder_log | grep -c "^PutVideoData .* length=$picture_bytes " || true; }
pictures_at_least() { [ "$(pictures)" -ge "$1" ]; }
sound_at_least() { [ "$(calls PutAudioData)" -ge "$1" ]; }
after_stop() {  # function
  encoder_log | sed -n '/^Stop /,$p' | grep -c "^$1 " || true
}
pictures_after_stop() { after_stop PutVideoData; }

# Starts the program with the launch URL and waits for its window (Wine gives each top-level
# window an X window of its own, named by its title).
start_program() {
  : >"$work/log"
  new_desktop "$screen"
  open_window "$url"
}
# Closes the window with Alt+F4, answers "直播结束!" (unless "no-class": no class ran, no box)
# and waits for the process to end.
close_program() {
  type_key "$main_window" alt+F4
  if [ "${1:-}" = no-class ]; then
    sleep 1
    no_window '^quillon-publisher$' || fail "\"直播结束!\" when no class ran"
  else
    answer_message "直播结束!"
  fi
  wait_until 10 "the program did not end after its window closed" gone "$program_pid"
  program_pid=""
}

start_program

# 上课: the encoder is made with the address the launch URL stored; pictures and sound arrive.
press_class_button "$main_window"
wait_until 10 "上课 did not create the encoder" log_has '^Start '
log_has '^CreateEncoder .* width=320 height=240 .*url=rtmp://127.0.0.1:1935/live$' ||
  fail "the encoder was not made with the desktop size and the stored address"
wait_until 10 "no pictures reached the encoder" pictures_at_least 5
wait_until 10 "no sound reached the encoder" sound_at_least 5
pass "上课 publishes ($(pictures) pictures and $(calls PutAudioData) pieces of sound so far)"
# The window's status line goes to the log as well.
wait_until 5 "the status did not reach \"live\"" grep -q "status: 正在直播" "$work/err"
pass "status: $(grep "status: 正在直播" "$work/err" | tail -1 | tr -d '\r')"

shot=$build_dir/test-output/win_program.png
take_screenshot "$shot" "$screen"
pass "screenshot in $shot"

# 下课: the encoder stops, and so does the frame timer: at most the picture of a tick already
# under way may follow the stop (the library ignores it), no tick after it.
press_class_button "$main_window"
wait_until 10 "下课 did not stop the encoder" log_has '^Stop '
sleep 0.5  # five periods: ticks that wrongly go on would show
[ "$(pictures_after_stop)" -le 1 ] || fail "$(pictures_after_stop) pictures after the encoder's stop"
# Sound stops after the encoder, so a few pieces on their way may follow; then none.
late_sound=$(after_stop PutAudioData)
sleep 0.3
[ "$(after_stop PutAudioData)" -eq "$late_sound" ] || fail "sound goes on after 下课"
pass "下课 stops the encoder after $(pictures) pictures"

# A second class, closed with Alt+F4 while it runs (the keyboard still reaches the window with
# 上课 hidden): "直播结束!", then the class ends with the window and the program ends.
second_class() { [ "$(calls CreateEncoder)" -eq 2 ] && [ "$(pictures_after_stop)" -ge 3 ]; }
press_class_button "$main_window"
wait_until 10 "the second 上课 did not publish" second_class
close_program
encoder_log | awk '/^CreateEncoder /{n++} n==2 && /^Stop /{s=1} END{exit !s}' ||
  fail "closing the window during a class did not stop the encoder"
pass "closing the window ends the running class and the program"

# An encoder that cannot start: "连接服务器失败", no pictures, and the window stays ready for
# another try.
export FAKE_VERBENA_START_RESULT=0
start_program
press_class_button "$main_window"
answer_message "连接服务器失败"
sleep 0.5  # a frame timer wrongly left running would tick by now
[ "$(pictures)" -eq 0 ] || fail "pictures reached an encoder that did not start"
press_class_button "$main_window"
second_try() { [ "$(calls Start)" -eq 2 ]; }
wait_until 10 "上课 cannot be pressed again after a failed start" second_try
answer_message "连接服务器失败, again"

# A later start hands its link to the running window and ends; the idle window takes it.
later_url="$(launch_url "rtmp://127.0.0.1:1935/live&20140103")/&later"
timeout -k 5 30 "$wine_loader" "${desktop[@]}" "$app" "$later_url" </dev/null >"$work/later" 2>&1 ||
  fail "a later start did not end by itself: $(cat "$work/later")"
wait_until 10 "the window did not take the later start's link" \
  grep -q "handed over class 20140103" "$work/err"
viewable=0
for id in $(xdotool search --name '^新一代网络教学系统.* Build '); do
  xwininfo -id "$id" | grep -q 'IsViewable' && viewable=$((viewable + 1))
done
[ "$viewable" = 1 ] || fail "$viewable main windows after a later start"
pass "a later start handed its link to the running window"
close_program no-class
pass "a failed start says so and leaves the window ready; closing then shows no box"

# The handed-over link's address is in the copy's config.ini beside the window's choices.
stored=$(printf '%b' "$(sed 's/%/\\x/g' <<<"${later_url#quillon.publish://}")")
tr -d '\r' <"$config" | grep -qxF "Address=${stored%/&later}" ||
  fail "the handed-over address is not in config.ini"
echo "PASS"
