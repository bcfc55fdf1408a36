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

# A copy of the program folder, so that the test's config.ini changes stay here.
copy_program
have_encoder=0
[ ! -e "$work/program/libverbena.so" ] || have_encoder=1
use_private_home
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
no_message() { ! wait_window "$1" '^quillon-publisher$' >/dev/null; }  # seconds
screenshot() { grab_screen "$1" "${WIDTH}x$HEIGHT" "$X,$Y"; }  # file

sleep 3   # the page loads and draws
screenshot "$artifacts/window_e2e_idle.png" || fail "screenshot"
pass "screenshot in $artifacts/window_e2e_idle.png"

# The page is drawn by the processor: no OpenGL driver in the program, and near the top left
# corner of the page's area (dialog units 186, 22) the page's own light blue.
! grep -qE '(_dri|libgallium[^/]*|libLLVM[^/]*)\.so' "/proc/$program_pid/maps" ||
  fail "the program loaded an OpenGL driver: $(grep -oE '[^/]*(_dri|gallium|LLVM)[^/]*' "/proc/$program_pid/maps" | sort -u)"
read -r r g b < <(ffmpeg -loglevel error -i "$artifacts/window_e2e_idle.png" -vf \
  "crop=1:1:$((186 * WIDTH / 638)):$((22 * HEIGHT / 385))" -f rawvideo -pix_fmt rgb24 - | od -An -tu1)
[ "$r" -ge 200 ] && [ "$r" -le 248 ] && [ "$b" -ge $((r + 8)) ] ||
  fail "the page is not drawn: its area shows $r $g $b"
pass "the page is drawn without OpenGL"

# Enter and Escape never close the window.
xdotool key --window "$window" Escape Return
sleep 0.5
find_window '新一代网络教学系统' >/dev/null || fail "a key closed the window"

# Later starts hand their link to this window and end: one window per program folder. An idle
# window takes the link at once; the allow-list's refusal stores nothing.
address() { tr -d '\r' <"$config" | grep '^Address='; }
hand_over() {  # plain-address: a second start with its link, which must end by itself
  timeout 20 "$app" "$(launch_url "$1")/&e2e" >>"$work/later.log" 2>&1 ||
    fail "a later start did not end by itself: $(cat "$work/later.log")"
}
sed -i 's/^\[Device\]\(\r\?\)$/[Device]\1\nAllowedHosts=127.0.0.1\1/' "$config"
stored=$(address)
hand_over "rtmp://192.0.2.1:$port/live/1&1"
answer_message "a host outside AllowedHosts"
[ "$(address)" = "$stored" ] || fail "a refused host was stored"
sed -i '/^AllowedHosts=/d' "$config"
hand_over "rtmp://127.0.0.1:$port/live/20140103&20140103"
wait_for 10 logged "handed over class 20140103" || fail "the idle window did not take the link"
[ "$(address)" != "$stored" ] || fail "the handed-over address was not stored"
[ "$(xdotool search --name '新一代网络教学系统' | wc -l)" = 1 ] || fail "a later start opened a window"
pass "later starts hand their links to the running window (idle: taken; other host: refused)"

# Lines of the program's log after the last one matching $1.
log_after() { awk -v p="$1" '$0 ~ p {n = NR} {l[NR] = $0} END {for (i = n + 1; i <= NR; i++) print l[i]}' "$work/program.log"; }
# The status reaches "live" within 3 s of 上课, and a double-click leaves the class running.
if [ "$have_encoder" = 1 ]; then
  click 78 62 --repeat 2 --delay 150
  wait_for 3 logged "status: 正在直播" || fail "not live within 3 s of 上课"
  sleep 2
  ! log_after "status: 正在直播" | grep -q "status: 未上课" || fail "the double-click ended the class"
  screenshot "$artifacts/window_e2e_publishing.png" || true
  no_message 1 || fail "the class did not start (message box shown)"
  pass "live within 3 s; a double-click on 上课 leaves the class running"

  # A link during the class: the teacher is told, the class goes on, the link waits for 下课.
  hand_over "rtmp://127.0.0.1:$port/live/20140104&20140104"
  answer_message "the link that arrived during the class"
  ! logged "handed over class 20140104" || fail "the link was taken during the class"

  # The server goes away and comes back: the status says so within 5 s, then live again.
  stop_rtmp_server kill
  wait_for 5 logged "status: 连接中断，正在重新连接 127.0.0.1:$port" ||
    fail "no word of the break within 5 s"
  sleep 1   # the page draws its new state
  screenshot "$artifacts/window_e2e_reconnecting.png" || true
  start_rtmp_server "$rtmp_port"
  back_live() { log_after "status: 连接中断" | grep -q "status: 正在直播 .* kb/s"; }
  wait_for 20 back_live || fail "not live again after the server came back"
  pass "server killed: reconnecting within 5 s; back: live again with its bit rate"

  # Another publisher takes the class while the server restarts (the program is held still
  # meanwhile, so the other one comes first however slow the machine): the library gives up, the
  # teacher is told once and the status says so.
  kill -STOP "$program_pid"
  stop_rtmp_server kill
  start_rtmp_server "$rtmp_port"
  ffmpeg -v error -re -f lavfi -i testsrc=size=160x120:rate=10 -t 60 -c:v libx264 -f flv \
    "rtmp://127.0.0.1:$port/live/20140103" >"$work/other.log" 2>&1 &
  other_pid=$!
  sleep 3
  kill -CONT "$program_pid"
  answer_message "the server refused the class" 45
  logged "status: 服务器拒绝了直播" || fail "the status does not tell of the refusal"
  stop_process "$other_pid"
  pass "a second publisher on the class: given up, told once"

  # 下课 takes the link that waited.
  click 78 62
  wait_for 10 logged "handed over class 20140104" || fail "下课 did not take the waiting link"
  pass "the link that arrived during the class is taken at 下课"

  # Closing the window during a class ends the class before "直播结束!".
  click 78 62   # 上课
  wait_for 10 sh -c "grep -A99 'class 20140104' '$work/program.log' | grep -q 'status: 正在直播'" ||
    fail "the class after the handed-over link did not go live"
  sleep 3   # the recording checked below
  "$close_window" "$window" || fail "could not ask the window to close"
  wait_window 30 '^quillon-publisher$' >/dev/null || fail "no message when closing"
  log_after "status: 正在直播" | grep -q "status: 未上课" || fail "the box came before the class ended"
  answer_message "直播结束!"
else
  click 78 62   # 上课
  answer_message "a class without encoder library" 30
  pass "without the encoder library the start is refused with a message"
  # Closing after no class: no box.
  "$close_window" "$window" || fail "could not ask the window to close"
  no_message 3 || fail "\"直播结束!\" when no class ran"
fi
wait_for 10 gone "$program_pid" || fail "the program did not end after its window closed"
program_pid=""
pass "closing the window ended the program"

# A link whose address has no class id: "参数有误!", and the program ends without its window.
"$app" "quillon.publish://bcd/&e2e" >>"$work/program.log" 2>&1 &
program_pid=$!
answer_message "an unusable address" 60
wait_for 10 gone "$program_pid" || fail "the program went on with an unusable address"
wait "$program_pid" || true
program_pid=""
no_window '新一代网络教学系统' || fail "the window was shown for an unusable address"
pass "an unusable address is refused before the window shows"

# Started bare: a fast class, whose number is told before any window shows.
"$app" >>"$work/program.log" 2>&1 &
program_pid=$!
wait_window 60 '^quillon-publisher$' >/dev/null || fail "no fast-class message"
no_window '新一代网络教学系统' || fail "the window showed before the fast-class message"
answer_message "the fast class"
window=$(wait_window 60 '新一代网络教学系统\(Merrowin\)') || fail "no window after the fast-class message"
config_has '^Address=' || fail "the fast class stored no address"
"$close_window" "$window" || fail "could not ask the fast-class window to close"
no_message 3 || fail "\"直播结束!\" when the fast-class window ran no class"
wait "$program_pid" || fail "the fast-class run ended with an error"
program_pid=""
pass "started bare: fast-class message first, then the window"

if [ "$have_encoder" = 1 ]; then
  stop_rtmp_server
  # The last class's: the server ended it gracefully (the earlier ones it lost when killed).
  recording=$(recorded 20140104)
  check_video "$recording" 640,360
  pass "recording: h264 640x360, decodes without errors"
fi
echo "window_e2e: all checks passed"
