#!/usr/bin/env bash
# Publishes synthetic moving pictures and a 440 Hz tone through the library's six functions to
# nginx-rtmp and to an `ffmpeg -listen` server, and checks what each received, and the library's
# own recording, by decoding them.
source "$(dirname "${BASH_SOURCE[0]}")/verbena_common.sh"
seconds=4

# The library exports the VERBENA_ functions, by their plain names, and nothing else.
if [ -z "$exe" ]; then
  exports=$(nm -D --defined-only "$library" | awk '{ print $3 }')
else
  exports=$(objdump -p "$library" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
fi
others=$(echo "$exports" | grep -v '^VERBENA_[A-Za-z]*$' || true)
[ -z "$others" ] || fail "$(basename "$library") exports more than the VERBENA_ functions: $others"
[ "$(echo "$exports" | grep -c '^VERBENA_')" = 8 ] || fail "$(basename "$library") exports: $exports"
pass "only the eight VERBENA_ functions are exported"

# 1. nginx-rtmp with the fast-class address.
start_rtmp_server
url="rtmp://127.0.0.1:$rtmp_port/encoder/zel/mp4:12345678.mp4"
"$driver" publish "$library" "$url" --seconds $seconds --width 320 --height 240 --rate 15 \
  >"$work/nginx.out"
cat "$work/nginx.out"
[ "$(value start_result "$work/nginx.out")" = 1 ] || fail "Start failed against nginx"
[ "$(value pictures_dropped "$work/nginx.out")" = 0 ] || fail "pictures were dropped"
[ "$(value late_calls "$work/nginx.out")" = 0 ] || fail "calls after Stop did something"
stop_rtmp_server
received=("$rtmp_dir/record/"mp4%3A12345678.mp4*.flv)
[ ${#received[@]} = 1 ] || fail "nginx recorded ${#received[@]} streams, expected 1"
# (The library's own recording: verbena_faults.sh.)
check_recording "${received[0]}" $seconds 15 320 240

# 2. ffmpeg as the server, an odd camera size (the encoder leaves out the last column and row).
ffmpeg_port=$(free_port)
ffmpeg -v error -listen 1 -timeout 20 -i "rtmp://127.0.0.1:$ffmpeg_port/live/room" -c copy \
  -y "$work/ffmpeg.flv" </dev/null &
listener=$!
at_exit stop_process $listener
wait_for 5 listening "$ffmpeg_port" || true
"$driver" publish "$library" "rtmp://127.0.0.1:$ffmpeg_port/live/room" --seconds $seconds \
  --width 353 --height 289 --rate 10 >"$work/ffmpeg.out"
cat "$work/ffmpeg.out"
[ "$(value start_result "$work/ffmpeg.out")" = 1 ] || fail "Start failed against ffmpeg -listen"
wait_for 10 gone $listener || fail "the ffmpeg server did not finish"
wait $listener || fail "the ffmpeg server failed"
check_recording "$work/ffmpeg.flv" $seconds 10 352 288
echo "PASS"
