#!/usr/bin/env bash
# quillon-publisher --headless on a Wayland session (no X server at all): the desktop comes through
# the ScreenCast stand-in and PipeWire, is published with the real encoder library to a local
# RTMP server, and a decoded frame of the recording is compared with the served picture, the
# pointer marker where the stream's metadata puts the pointer. The second class needs no dialog;
# a cancelled dialog and a missing portal start no class and say what to do.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ -f "$program_dir/libverbena.so" ] || fail "the encoder library is not built"
start_screencast_desktop
start_rtmp_server
copy_program
cd "$work/elsewhere"
set_config VideoStyle=0 ScreenWidth=320 ScreenHeight=240 HaveAudio=0 FrameRate=20 Bitrate=2000

run --list-devices || fail "--list-devices exited with $?"
grep -q '^Desktop source: the Wayland desktop through the screen-sharing portal .*XDG_SESSION_TYPE=wayland' \
  "$work/out" || fail "--list-devices does not name the portal"

class() {  # stream name: a 3 s class; true when it exited 0
  run --headless --duration 3 "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/$1&4250")&"
}
standin SetPointer 280 200 >/dev/null
class wayland || fail "the Wayland class exited with $?"
sleep 1
recording=$(recorded wayland)
pixel "$recording" 0 0 >/dev/null  # decodes the frame at 2 s into $work/frame.rgb
# The served pattern (capture/testing/screen_checks.h) at (40, 30), 200 x 120, on the blue-ish
# background of picture 0: the mean difference per colour byte, after H.264 at 2000 kb/s.
difference=$(python3 - "$work/frame.rgb" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
w, total, n = 320, 0, 0
def expect(x, y):
    px, py = x - 40, y - 30
    if 0 <= px < 200 and 0 <= py < 120:
        return ((px * 3 + py * 11) & 255, (py * 5 + 17) & 255, (px * 7 + py) & 255)
    return (20, 90, 200)
for y in range(0, 240, 2):
    for x in range(0, 320, 2):
        if 270 <= x < 305 and 175 <= y < 210:
            continue  # the marker and its blur
        i = (y * w + x) * 3
        total += sum(abs(a - b) for a, b in zip(data[i:i + 3], expect(x, y)))
        n += 3
print(total // n)
PY
)
[ "$difference" -le 12 ] || fail "the recording differs from the served picture by $difference a byte"
reddish "$(pixel "$recording" 287 192)" || fail "no marker beside the pointer at (280, 200)"
pass "the recording shows the served picture (mean difference $difference), the marker at the pointer"
[ -s "$work/program/screencast.token" ] || fail "no restore token beside config.ini"

class again || fail "the second class exited with $?"
[ "$(standin Dialogs)" = "(uint32 1,)" ] || fail "the second class asked again: $(standin Dialogs)"
pass "the second class started with the kept permission"

# The teacher cancels the dialog (the kept permission revoked), then no portal at all: exit 1,
# the reason on stderr, and nothing published.
rm "$work/program/screencast.token"
start_screencast_standin --refuse
run_expecting 1 "a cancelled dialog" --headless --duration 2
grep -q '没有共享屏幕' "$work/err" || fail "a cancelled dialog is not explained"
stop_screencast_standin
run_expecting 1 "a missing portal" --headless --duration 2
grep -q '没有屏幕共享服务' "$work/err" || fail "a missing portal is not explained"
! grep -q 'publishing to' "$work/err" || fail "a class without a desktop was published"
pass "a refused or missing portal starts no class and says why"

# Ctrl+C while the sharing dialog waits for the teacher (a portal that never answers): the
# dialog is taken back (the request and the session closed) and the program ends at once.
start_screencast_standin --never-answer
"$app" --headless --duration 60 </dev/null >"$work/out" 2>"$work/err" &
publisher=$! program_pid=$!
dialog_open() { [ "$(standin Dialogs)" = "(uint32 1,)" ]; }
wait_until 10 "the dialog was not asked for" dialog_open
sleep 0.5
asked=$(date +%s%N)
kill -INT "$publisher"
wait_for 5 gone "$publisher" || fail "Ctrl+C during the dialog did not end the program in 5 s"
status=0
wait "$publisher" || status=$?
took=$((($(date +%s%N) - asked) / 1000000))
[ "$status" -eq 1 ] || fail "Ctrl+C during the dialog exited with $status, not 1"
grep -q 'SIGINT received' "$work/err" || fail "Ctrl+C is not acknowledged: $(cat "$work/err")"
grep -q '在选择共享的屏幕时停止了' "$work/err" || fail "the called-off start is not explained"
grep -q 'Request.Close' "$wayland_dir/standin.log" || fail "the dialog's request was not closed"
grep -q 'Session.Close' "$wayland_dir/standin.log" || fail "the session was not closed"
pass "Ctrl+C during the sharing dialog closes it and ends the program in $took ms"
# (A whole display, ScreenWidth=0, at the shared monitor's size: wayland_mutter_e2e.sh.)
