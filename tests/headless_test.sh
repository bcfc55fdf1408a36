#!/usr/bin/env bash
# quillon-publisher --headless from a copy of the program folder with the recording encoder in
# place of libverbena.so, on a private Xvfb: a fast class and a launch-URL class publish desktop
# pictures of the configured size until the duration or SIGTERM and end cleanly; a refused start,
# a missing library and unusable settings end with a clear message and exit code 1.
set -euo pipefail
program_dir=${QUILLON_PROGRAM_DIR:?}
build_dir=${QUILLON_BUILD_DIR:?}
fake_library="$build_dir/capture/libfake_verbena.so"
[ -f "$fake_library" ] || { echo "FAIL: $fake_library is not built" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -KILL "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in out err log; do [ -f "$work/$f" ] && sed "s/^/$f: /" "$work/$f" >&2; done; exit 1; }

command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/packages lists xvfb)"
Xvfb -displayfd 3 -screen 0 640x480x24 -noreset -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

mkdir "$work/program" "$work/elsewhere"
cp "$program_dir/quillon-publisher" "$work/program/"
cp "$fake_library" "$work/program/libverbena.so"
app="$work/program/quillon-publisher"
config="$work/program/config.ini"
write_config() {  # extra lines override the defaults
  cat >"$config" <<INI
[Device]
VideoStyle=0
DeviceID=0
ScreenWidth=320
ScreenHeight=240
VideoWidth=640
VideoHeight=480
VideoX=0
VideoY=0
ScreenRate=4
FrameRate=20
Bitrate=500
Interval=2
Quality=2
Record=0
HaveAudio=0
[Audio]
SamplesPerSec=44100
BitsPerSample=16
Chanels=2
INI
  for line in "$@"; do sed -i "s/^${line%%=*}=.*/$line/" "$config"; done
}
export FAKE_VERBENA_LOG="$work/log"
cd "$work/elsewhere"  # the program finds its folder itself
run() { rm -f "$work/log"; timeout 30 "$app" "$@" >"$work/out" 2>"$work/err"; }
count() { grep -c "^$1 " "$work/log" || true; }

# A fast class for 1 s: the class number on stdout, 20 desktop pictures a second of 320x240.
write_config
run --headless --duration 1 || fail "fast class exited with $?"
grep -q '[0-9]' "$work/out" || fail "no fast-class message on stdout"
head -n1 "$work/log" | grep -q '^CreateEncoder .*width=320 height=240 format=4103 url=rtmp://127.0.0.1' ||
  fail "encoder not created with the desktop size and the fast-class address"
sed -n 2p "$work/log" | grep -q '^Start ' || fail "Start is not the second call"
pictures=$(count PutVideoData)
[ "$pictures" -ge 10 ] && [ "$pictures" -le 25 ] || fail "$pictures pictures in 1 s at 20 frames/s"
if grep '^PutVideoData ' "$work/log" | grep -qv 'length=230400 '; then fail "picture of a wrong length"; fi
[ "$(count GetAudioNofifySize)" -eq 0 ] || fail "sound asked for with HaveAudio=0"
[ "$(count Stop)" -eq 2 ] || fail "expected Stop, then the destructor's Stop"

# A launch URL, camera-large picture type (no camera in this build: black camera picture with the
# desktop inset), ended by SIGTERM.
write_config VideoStyle=3
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
rm -f "$work/log"
timeout 30 "$app" --headless "$url" >"$work/out" 2>"$work/err" &
app_pid=$!
for _ in $(seq 100); do [ "$(count PutVideoData 2>/dev/null)" -ge 3 ] && break; sleep 0.1; done
kill -TERM "$app_pid"
status=0
wait "$app_pid" || status=$?
app_pid=""
[ "$status" -eq 0 ] || fail "SIGTERM ended the class with exit code $status"
[ ! -s "$work/out" ] || fail "a launch URL showed a message"
grep -q '^CreateEncoder .*width=640 height=480 .*url=rtmp://127.0.0.1:1935/live$' "$work/log" ||
  fail "encoder not created with the camera size and the launch URL's address"
if grep '^PutVideoData ' "$work/log" | grep -qv 'length=921600 '; then fail "picture of a wrong length"; fi
grep -q 'SIGTERM' "$work/err" || fail "the end by SIGTERM is not reported"
tail -n1 "$work/log" | grep -q '^Stop ' || fail "the class did not end with Stop"

# The server refuses: "连接服务器失败" and exit code 1.
write_config
status=0
FAKE_VERBENA_START_RESULT=0 run --headless --duration 1 || status=$?
[ "$status" -eq 1 ] || fail "a refused start exited with $status"
grep -q '连接服务器失败' "$work/err" || fail "no 连接服务器失败 on stderr"
[ "$(count PutVideoData)" -eq 0 ] || fail "pictures after a refused start"

# No encoder library in the program folder: the same, naming the missing file.
mv "$work/program/libverbena.so" "$work/libverbena.so"
status=0
run --headless --duration 1 || status=$?
[ "$status" -eq 1 ] || fail "a missing library exited with $status"
grep -q 'libverbena.so' "$work/err" || fail "the missing library is not named"
grep -q '连接服务器失败' "$work/err" || fail "no 连接服务器失败 on stderr"
mv "$work/libverbena.so" "$work/program/libverbena.so"

# Unusable settings are refused before anything starts, naming the key.
write_config FrameRate=0
status=0
run --headless --duration 1 || status=$?
[ "$status" -eq 1 ] || fail "FrameRate=0 exited with $status"
grep -q 'FrameRate' "$work/err" || fail "the bad key is not named"
[ ! -s "$work/log" ] || fail "the encoder was called with unusable settings"

echo "headless: all checks passed"
