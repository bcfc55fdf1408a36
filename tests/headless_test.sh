#!/usr/bin/env bash
# quillon-publisher --headless from a copy of the program folder with the recording encoder in
# place of libverbena.so, on a private Xvfb: a fast class and a launch-URL class publish desktop
# pictures of the configured size until the duration or SIGTERM and end cleanly; a refused start,
# a missing library and unusable settings end with a clear message and exit code 1.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
start_xvfb 640x480
copy_program quillon-publisher
use_fake_encoder
cd "$work/elsewhere"
write_config() {  # KEY=VALUE... over the test's defaults
  cp "$shipped_config" "$config"
  set_config ScreenWidth=320 ScreenHeight=240 FrameRate=20 HaveAudio=0 "$@"
}
pictures_at_least() { [ "$(calls PutVideoData)" -ge "$1" ]; }
pictures_of_length() {  # bytes: true when every picture has it
  encoder_log | awk -v n="length=$1 " '/^PutVideoData / && !index($0, n) { bad = 1 } END { exit bad }'
}

# A fast class for 1 s: the class number on stdout, 20 desktop pictures a second of 320x240.
write_config
run --headless --duration 1 || fail "fast class exited with $?"
grep -q '[0-9]' "$work/out" || fail "no fast-class message on stdout"
encoder_log | sed -n 1p | grep -q '^CreateEncoder .*width=320 height=240 format=4103 url=rtmp://127.0.0.1' ||
  fail "encoder not created with the desktop size and the fast-class address"
encoder_log | sed -n 2p | grep -q '^Start ' || fail "Start is not the second call"
pictures=$(calls PutVideoData)
[ "$pictures" -ge 10 ] && [ "$pictures" -le 25 ] || fail "$pictures pictures in 1 s at 20 frames/s"
pictures_of_length 230400 || fail "picture of a wrong length"
[ "$(calls GetAudioNofifySize)" -eq 0 ] || fail "sound asked for with HaveAudio=0"
[ "$(calls Stop)" -eq 2 ] || fail "expected Stop, then the destructor's Stop"
# A library without statistics: live, and nothing more claimed about the connection.
expect_line "$work/err" "quillon-publisher: status: 正在直播 00:00"

# A launch URL, camera-large picture type (no camera in this build: black camera picture with the
# desktop inset), ended by SIGTERM.
write_config VideoStyle=3
url='quillon.publish://svpq%3C2035803%2F212%3C4%3A580nlwg%29dndtu73/&ignored/tail'
rm -f "$work/log"
timeout 30 "$app" --headless "$url" >"$work/out" 2>"$work/err" &
program_pid=$!
wait_for 10 pictures_at_least 3 || true
kill -TERM "$program_pid"
status=0
wait "$program_pid" || status=$?
program_pid=""
[ "$status" -eq 0 ] || fail "SIGTERM ended the class with exit code $status"
[ ! -s "$work/out" ] || fail "a launch URL showed a message"
log_has '^CreateEncoder .*width=640 height=480 .*url=rtmp://127.0.0.1:1935/live$' ||
  fail "encoder not created with the camera size and the launch URL's address"
pictures_of_length 921600 || fail "picture of a wrong length"
grep -q 'SIGTERM' "$work/err" || fail "the end by SIGTERM is not reported"
encoder_log | tail -n1 | grep -q '^Stop ' || fail "the class did not end with Stop"

# The server refuses: "连接服务器失败" and exit code 1.
write_config
FAKE_VERBENA_START_RESULT=0 run_expecting 1 "a refused start" --headless --duration 1
grep -q '连接服务器失败' "$work/err" || fail "no 连接服务器失败 on stderr"
[ "$(calls PutVideoData)" -eq 0 ] || fail "pictures after a refused start"

# No encoder library in the program folder: the same, naming the missing file.
mv "$work/program/libverbena.so" "$work/libverbena.so"
run_expecting 1 "a missing library" --headless --duration 1
grep -q 'libverbena.so' "$work/err" || fail "the missing library is not named"
grep -q '连接服务器失败' "$work/err" || fail "no 连接服务器失败 on stderr"
mv "$work/libverbena.so" "$work/program/libverbena.so"

# Unusable settings are refused before anything starts, naming the key.
write_config FrameRate=0
run_expecting 1 "FrameRate=0" --headless --duration 1
grep -q 'FrameRate' "$work/err" || fail "the bad key is not named"
[ ! -s "$work/log" ] || fail "the encoder was called with unusable settings"

# A school's allow-list: a link to another host stores nothing, says which host, and publishes
# nowhere.
write_config
sed -i '/^\[Device\]/a AllowedHosts=rtmp.school.test' "$config"
cp "$config" "$work/config.before"
run_expecting 1 "a link to a host outside AllowedHosts" --headless --duration 1 "$url"
grep -q '这个课堂链接要发布到 127.0.0.1，本机只允许发布到 rtmp.school.test' "$work/err" ||
  fail "the refused host is not named"
cmp -s "$config" "$work/config.before" || fail "a refused link changed config.ini"
[ ! -s "$work/log" ] || fail "a refused link reached the encoder"

echo "headless: all checks passed"
