#!/usr/bin/env bash
# The program as a teacher meets it: a classroom link (quillon.publish://...) opened with xdg-open
# on a private X server starts the window; "上课" publishes the desktop to the local RTMP server for
# a few seconds, "下课" ends it, closing the window ends the program. The recording is decoded and
# checked; a screenshot of the window is kept in build/test-artifacts/.
#   window_e2e.sh X_CLOSE_WINDOW
close_window=${1:?usage: window_e2e.sh X_CLOSE_WINDOW}
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
need Xvfb xdotool xwininfo xdg-open ffmpeg ffprobe
artifacts=$build_dir/test-artifacts
failure_files=(program.log)
program_pid=""
extra_cleanup() { stop_process "$program_pid"; }

# A copy of the program folder, so that the test's config.ini changes stay here; HOME and the
# desktop folders of a user of its own.
copy_program
have_encoder=0
[ ! -e "$work/program/libverbena.so" ] || have_encoder=1
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
export XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_DATA_DIRS=/usr/share XDG_CONFIG_DIRS=/etc/xdg
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export QTWEBENGINE_DISABLE_SANDBOX=1
# A desktop picture that the grab is checked against is not needed here: a small screen keeps
# the class light.
set_config ScreenWidth=640 ScreenHeight=360 HaveAudio=0 VideoStyle=0 FrameRate=10

# The local server the class publishes to.
port=1
if [ "$have_encoder" = 1 ]; then
  start_rtmp_server
  port=$rtmp_port
fi

# What follows the last "&" of a link is not part of the address.
class_id=20140102
link="$(launch_url "rtmp://127.0.0.1:$port/live/$class_id&$class_id")/&e2e"

# A first start without a display registers the scheme (and stores the address).
env -u DISPLAY "$app" "$link" >"$work/first.log" 2>&1 || fail "first start: $(cat "$work/first.log")"
entry=$XDG_DATA_HOME/applications/quillon-publisher.desktop
grep -qxF "Exec=$app %u" "$entry" || fail "desktop entry: $(cat "$entry")"
[ "$(xdg-mime query default x-scheme-handler/quillon.publish)" = quillon-publisher.desktop ] ||
  fail "not the default handler of quillon.publish"
pass "scheme registered for this copy of the program"

start_xvfb 1280x1024

# The link opened as a browser would hand it over.
(cd /tmp && exec xdg-open "$link") >"$work/program.log" 2>&1 &
window=$(wait_window 60 '新一代网络教学系统\(Merrowin\)') || fail "the window did not open from the link"
program_pid=$(xdotool getwindowpid "$window" 2>/dev/null || pgrep -n -f "$app")
[ "$(readlink "/proc/$program_pid/exe")" = "$app" ] || fail "the link started another program"
[ "$(readlink "/proc/$program_pid/cwd")" = "$work/program" ] || fail "not started in its folder"
title=$(xdotool getwindowname "$window")
[ "$title" = "新一代网络教学系统(Merrowin) Build 1.0.140102.20" ] || fail "title: $title"
pass "xdg-open started the window: $title"

eval "$(xdotool getwindowgeometry --shell "$window")"   # X Y WIDTH HEIGHT
# A point of the window given in dialog units (the window is 638 x 385 of them).
click() {  # x y (dialog units)
  xdotool mousemove --window "$window" $(($1 * WIDTH / 638)) $(($2 * HEIGHT / 385)) click 1
}
# Enter on a message box. The box closes on the key press, and xdotool then stops before the
# release: the key would stay down and repeat into the next box, so it is released here.
press_return() {  # window
  xdotool key --window "$1" Return 2>/dev/null || true
  xdotool keyup Return 2>/dev/null || true
}
# The message box the program shows, by its caption; answered with Enter.
answer_message() {  # timeout-seconds
  local box
  box=$(wait_window "$1" '^quillon-publisher$') || return 1
  press_return "$box"
}
screenshot() { grab_screen "$1" "${WIDTH}x$HEIGHT" "$X,$Y"; }  # file

sleep 3   # the page loads and draws
screenshot "$artifacts/window_e2e_idle.png" || fail "screenshot"
pass "screenshot in $artifacts/window_e2e_idle.png"

# Enter and Escape never close the window.
xdotool key --window "$window" Escape Return
sleep 0.5
find_window '新一代网络教学系统' >/dev/null || fail "a key closed the window"

click 78 62   # 上课
if [ "$have_encoder" = 1 ]; then
  sleep 5
  screenshot "$artifacts/window_e2e_publishing.png" || true
  if answer_message 1; then fail "the class did not start (message box shown)"; fi
  click 78 62   # 下课, in the same place
  sleep 1
  pass "published for about 5 seconds"
else
  answer_message 30 || fail "no message box for a class without encoder library"
  pass "without the encoder library the start is refused with a message"
fi

# Closing the window: "直播结束!" after a class, none when no class could start; the program ends.
"$close_window" "$window" || fail "could not ask the window to close"
if [ "$have_encoder" = 1 ]; then
  answer_message 30 || fail "no message when closing"
elif answer_message 3; then
  fail "\"直播结束!\" when no class ran"
fi
wait_for 10 gone "$program_pid" || fail "the program did not end after its window closed"
program_pid=""
pass "closing the window ended the program"

# A link whose address has no class id: "参数有误!", and the program ends without its window.
"$app" "quillon.publish://bcd/&e2e" >>"$work/program.log" 2>&1 &
program_pid=$!
answer_message 60 || fail "no message for an unusable address"
wait_for 10 gone "$program_pid" || fail "the program went on with an unusable address"
wait "$program_pid" || true
program_pid=""
no_window '新一代网络教学系统' || fail "the window was shown for an unusable address"
pass "an unusable address is refused before the window shows"

# Started bare: a fast class, whose number is told before any window shows.
"$app" >>"$work/program.log" 2>&1 &
program_pid=$!
box=$(wait_window 60 '^quillon-publisher$') || fail "no fast-class message"
no_window '新一代网络教学系统' || fail "the window showed before the fast-class message"
press_return "$box"
window=$(wait_window 60 '新一代网络教学系统\(Merrowin\)') || fail "no window after the fast-class message"
config_has '^Address=' || fail "the fast class stored no address"
"$close_window" "$window" || fail "could not ask the fast-class window to close"
if answer_message 3; then fail "\"直播结束!\" when the fast-class window ran no class"; fi
wait "$program_pid" || fail "the fast-class run ended with an error"
program_pid=""
pass "started bare: fast-class message first, then the window"

if [ "$have_encoder" = 1 ]; then
  stop_rtmp_server
  recording=$(find "$rtmp_dir/record" -name "*.flv" -size +1k | head -1)
  [ -n "$recording" ] || fail "nothing was recorded"
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height \
    -of csv=p=0 "$recording")
  [ "$size" = "h264,640,360" ] || fail "recording is $size, expected h264 640x360"
  frames=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames \
    -of csv=p=0 "$recording")
  [ "${frames:-0}" -ge 20 ] || fail "only ${frames:-0} pictures arrived"
  ffmpeg -v error -xerror -i "$recording" -f null - || fail "the recording does not decode cleanly"
  pass "recording: $size, $frames pictures, decodes without errors"
fi
echo "window_e2e: all checks passed"
