#!/usr/bin/env bash
# quillon-publisher --headless on a real Wayland compositor without a GPU: GNOME's mutter, headless
# with one virtual 1024 x 768 monitor, on a private session bus with PipeWire, run by a user of its
# own (made here, removed after) when the script runs as root. GNOME's portal asks the teacher in
# a dialog that no test can answer, so the ScreenCast stand-in (--mutter) grants the monitor
# through mutter's own screen-cast interface: the program's portal client and its PipeWire stream
# then meet the compositor's real stream. A class of the whole display (ScreenWidth=0) publishes
# the virtual monitor at its size, not the X server's (XWayland's, here a 640 x 480 Xvfb), and
# the recording decodes.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if ! command -v mutter >/dev/null; then
  echo "NOT RUN: mutter is not installed (apt-get install --no-install-recommends mutter)"
  exit 0
fi
need ffprobe runuser
start_xvfb 640x480 -ac
[ -f "$program_dir/libverbena.so" ] || fail "the encoder library is not built"
start_rtmp_server
copy_program
cp "$build_dir/capture/screencast_portal_standin" "$work/"
set_config VideoStyle=0 ScreenWidth=0 ScreenHeight=0 HaveAudio=0 FrameRate=20 Bitrate=2000
run_dir=$work/run
mkdir -m 700 "$run_dir"
session_env=(HOME="$run_dir" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$run_dir" DISPLAY="$DISPLAY"
  XDG_SESSION_TYPE=wayland DBUS_SESSION_BUS_ADDRESS="unix:path=$run_dir/bus")
if [ "$(id -u)" -eq 0 ]; then
  need useradd
  user=qpwl$$
  useradd --no-create-home --home-dir "$run_dir" --shell /bin/sh "$user" || fail "useradd"
  at_exit userdel "$user"
  at_exit end_user_processes
  end_user_processes() { local p; for p in $(pgrep -u "$user" || true); do stop_process "$p"; done; }
  chown -R "$user" "$work"
  as_user() { runuser -u "$user" -- env -i "${session_env[@]}" "$@"; }
else
  as_user() { env -i "${session_env[@]}" "$@"; }
fi
failure_files=(out err run/mutter.log run/standin.log)

launcher=(as_user)
start_session "$run_dir"
in_background "$run_dir/mutter.log" mutter --headless --virtual-monitor 1024x768 --wayland --no-x11
mutter_casts() { grep -q 'Added virtual monitor' "$run_dir/mutter.log" && test -S "$run_dir/wayland-0"; }
wait_until 30 "mutter did not start" mutter_casts
in_background "$run_dir/standin.log" "$work/screencast_portal_standin" --mutter
wait_until 10 "the ScreenCast stand-in did not start" grep -qs ready "$run_dir/standin.log"
pass "mutter runs headless with a virtual 1024 x 768 monitor"

cd "$run_dir"
as_user timeout 30 "$app" --headless --duration 3 \
  "$(launch_url "rtmp://127.0.0.1:$rtmp_port/live/mutter&4250")&" >"$work/out" 2>"$work/err" ||
  fail "the class on mutter exited with $?"
grep -q 'Mutter stream .* 1024x768' "$run_dir/standin.log" || fail "mutter cast no 1024 x 768 monitor"
stop_rtmp_server
recording=$(recorded mutter)
check_video "$recording" 1024,768
pass "a class of the whole display publishes mutter's monitor at 1024 x 768, not the X server's 640 x 480"
