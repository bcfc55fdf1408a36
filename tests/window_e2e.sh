#!/usr/bin/env bash
# The program as a teacher meets it: a classroom link (quillon.publish://...) opened with xdg-open
# on a private X server starts the window; "上课" publishes the desktop to the local RTMP server for
# a few seconds, "下课" ends it, closing the window ends the program. The recording is decoded and
# checked; a screenshot of the window is kept in build/test-artifacts/.
#   window_e2e.sh X_CLOSE_WINDOW
set -euo pipefail
close_window=${1:?usage: window_e2e.sh X_CLOSE_WINDOW}
source_dir=${QUILLON_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
build_dir=${QUILLON_BUILD_DIR:-$source_dir/build}
program_dir=${QUILLON_PROGRAM_DIR:-$build_dir/bin}
server=$source_dir/scripts/rtmp-server
artifacts=$build_dir/test-artifacts
work=$(mktemp -d /tmp/window-e2e.XXXXXX)
xvfb_pid="" program_pid="" server_dir=""

on_exit() {
  local status=$?
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null || true
    sleep 1
    kill -KILL "$program_pid" 2>/dev/null || true
  fi
  [ -z "$server_dir" ] || "$server" stop "$server_dir" >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  if [ "$status" -ne 0 ] && [ -s "$work/program.log" ]; then
    echo "--- program output" >&2
    tail -30 "$work/program.log" >&2
  fi
  rm -rf "$work"
  exit "$status"
}
trap on_exit EXIT
trap 'exit 130' INT TERM

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }
# The first mapped window whose name matches the pattern (xdotool's own --onlyvisible also
# returns hidden helper windows of the same name now and then).
find_window() {  # name-pattern
  local id
  for id in $(xdotool search --name "$1" 2>/dev/null); do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
# True when the process has ended within the given seconds.
ended() {  # pid seconds
  for _ in $(seq $(($2 * 4))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.25
  done
  return 1
}
# Waits for such a window; prints its id.
wait_window() {  # name-pattern seconds
  local id
  for _ in $(seq $(($2 * 4))); do
    id=$(find_window "$1") && { echo "$id"; return 0; }
    sleep 0.25
  done
  return 1
}
for tool in Xvfb xdotool xwininfo xdg-open ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

# A copy of the program folder, so that the test's config.ini changes stay here; HOME and the
# desktop folders of a user of its own.
mkdir -p "$work/program" "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
cp "$program_dir"/quillon-publisher "$program_dir"/config.ini "$program_dir"/Tindlekit.dll \
  "$program_dir"/face.dll "$work/program/"
have_encoder=0
if [ -e "$program_dir/libverbena.so" ]; then
  cp "$program_dir/libverbena.so" "$work/program/"
  have_encoder=1
fi
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
export XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_DATA_DIRS=/usr/share XDG_CONFIG_DIRS=/etc/xdg
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
export QTWEBENGINE_DISABLE_SANDBOX=1
# A desktop picture that the grab is checked against is not needed here: a small screen keeps
# the class light.
sed -i -e 's/^ScreenWidth=.*/ScreenWidth=640/' -e 's/^ScreenHeight=.*/ScreenHeight=360/' \
  -e 's/^HaveAudio=.*/HaveAudio=0/' -e 's/^VideoStyle=.*/VideoStyle=0/' \
  -e 's/^FrameRate=.*/FrameRate=10/' "$work/program/config.ini"

# The local server the class publishes to.
port=1
if [ "$have_encoder" = 1 ]; then
  server_dir=$work/rtmp
  port=$("$server" start auto "$server_dir")
fi

# The launch URL carries the address scrambled (byte i raised by i mod 3 + 1) and escaped.
class_id=20140102
plain="rtmp://127.0.0.1:$port/live/$class_id&$class_id"
payload=""
for ((i = 0; i < ${#plain}; i++)); do
  printf -v byte '%d' "'${plain:i:1}"
  printf -v escaped '%%%02X' $((byte + i % 3 + 1))
  payload+=$escaped
done
# What follows the last "&" of a link is not part of the address.
link="quillon.publish://$payload/&e2e"

# A first start without a display registers the scheme (and stores the address).
env -u DISPLAY "$work/program/quillon-publisher" "$link" >"$work/first.log" 2>&1 ||
  fail "first start: $(cat "$work/first.log")"
entry=$XDG_DATA_HOME/applications/quillon-publisher.desktop
grep -qxF "Exec=$work/program/quillon-publisher %u" "$entry" || fail "desktop entry: $(cat "$entry")"
[ "$(xdg-mime query default x-scheme-handler/quillon.publish)" = quillon-publisher.desktop ] ||
  fail "not the default handler of quillon.publish"
pass "scheme registered for this copy of the program"

# A private X server.
exec 3< <(exec Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 1280x1024x24 2>/dev/null)
xvfb_pid=$!
read -r -t 15 display_number <&3 || fail "Xvfb did not start"
export DISPLAY=:$display_number

# The link opened as a browser would hand it over.
(cd /tmp && exec xdg-open "$link") >"$work/program.log" 2>&1 &
window=$(wait_window '新一代网络教学系统\(Merrowin\)' 60) || fail "the window did not open from the link"
program_pid=$(xdotool getwindowpid "$window" 2>/dev/null || pgrep -n -f "$work/program/quillon-publisher")
[ "$(readlink "/proc/$program_pid/exe")" = "$work/program/quillon-publisher" ] ||
  fail "the link started another program"
[ "$(readlink "/proc/$program_pid/cwd")" = "$work/program" ] || fail "not started in its folder"
title=$(xdotool getwindowname "$window")
[ "$title" = "新一代网络教学系统(Merrowin) Build 1.0.140102.20" ] || fail "title: $title"
pass "xdg-open started the window: $title"

eval "$(xdotool getwindowgeometry --shell "$window")"   # X Y WIDTH HEIGHT
# A point of the window given in dialog units (the window is 638 x 373 of them).
click() {  # x y (dialog units)
  xdotool mousemove --window "$window" $(($1 * WIDTH / 638)) $(($2 * HEIGHT / 373)) click 1
}
# Enter on a message box. The box closes on the key press, and xdotool then stops before the
# release: the key would stay down and repeat into the next box, so it is released here.
press_return() {  # window
  xdotool key --window "$1" Return 2>/dev/null || true
  xdotool keyup Return 2>/dev/null || true
}
# The message box the program shows, by its caption; answered with Enter.
answer_message() {  # timeout-seconds; prints the box's window id
  local box
  box=$(wait_window '^quillon-publisher$' "$1") || return 1
  press_return "$box"
  echo "$box"
}
screenshot() {  # file
  ffmpeg -v error -y -f x11grab -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" \
    -frames:v 1 "$1"
}

sleep 3   # the page loads and draws
mkdir -p "$artifacts"
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
  if answer_message 1 >/dev/null; then fail "the class did not start (message box shown)"; fi
  click 78 62   # 下课, in the same place
  sleep 1
  pass "published for about 5 seconds"
else
  answer_message 30 >/dev/null || fail "no message box for a class without encoder library"
  pass "without the encoder library the start is refused with a message"
fi

# Closing the window: "直播结束!" and the program ends.
"$close_window" "$window" || fail "could not ask the window to close"
answer_message 30 >/dev/null || fail "no message when closing"
if ! ended "$program_pid" 10; then fail "the program did not end after its window closed"; fi
program_pid=""
pass "closing the window ended the program"

# A link whose address has no class id: "参数有误!", and the program ends without its window.
"$work/program/quillon-publisher" "quillon.publish://bcd/&e2e" >>"$work/program.log" 2>&1 &
program_pid=$!
answer_message 60 >/dev/null || fail "no message for an unusable address"
if ! ended "$program_pid" 10; then fail "the program went on with an unusable address"; fi
wait "$program_pid" || true
program_pid=""
if find_window '新一代网络教学系统' >/dev/null; then
  fail "the window was shown for an unusable address"
fi
pass "an unusable address is refused before the window shows"

# Started bare: a fast class, whose number is told before any window shows.
"$work/program/quillon-publisher" >>"$work/program.log" 2>&1 &
program_pid=$!
box=$(wait_window '^quillon-publisher$' 60) || fail "no fast-class message"
if find_window '新一代网络教学系统' >/dev/null; then
  fail "the window showed before the fast-class message"
fi
press_return "$box"
window=$(wait_window '新一代网络教学系统\(Merrowin\)' 60) ||
  fail "no window after the fast-class message"
grep -q '^Address=' "$work/program/config.ini" || fail "the fast class stored no address"
"$close_window" "$window" || fail "could not ask the fast-class window to close"
answer_message 30 >/dev/null || fail "no message when closing the fast-class window"
wait "$program_pid" || fail "the fast-class run ended with an error"
program_pid=""
pass "started bare: fast-class message first, then the window"

if [ "$have_encoder" = 1 ]; then
  "$server" stop "$server_dir"
  server_dir_done=$server_dir
  server_dir=""
  recording=$(find "$server_dir_done/record" -name "*.flv" -size +1k | head -1)
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
