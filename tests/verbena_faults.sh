#!/usr/bin/env bash
# The server goes away in the middle of a class and comes back: no Put call may block, the
# stream must resume on the restarted server with sound and picture together, and the local
# recording must hold the whole class. (Start without a server, a frozen server, garbage
# addresses, wrong lengths, Stop twice and calls after Stop are covered by verbena_api_test.)
source "$(dirname "${BASH_SOURCE[0]}")/verbena_common.sh"
# Wall time of the slowest Put call. A Put only copies into a pooled buffer (well under 1 ms);
# the limit leaves room for a loaded CI machine preempting the calling thread, and is far below
# the seconds a write to a dead server could block.
max_put_ms=${VERBENA_MAX_PUT_MS:-50}
seconds=12

start_rtmp_server
url="rtmp://127.0.0.1:$rtmp_port/encoder/zel/mp4:87654321.mp4"
publish driver "$url" --seconds $seconds --width 320 --height 240 --rate 15 --record 1
sleep 3
stop_rtmp_server kill
echo "server killed"
sleep 1.5
start_rtmp_server "$rtmp_port"
echo "server restarted on $rtmp_port"
wait $publisher || fail "the driver failed: $(cat "$work/driver.err")"
cat "$work/driver.out" "$work/driver.err"
stop_rtmp_server

[ "$(value start_result "$work/driver.out")" = 1 ] || fail "Start failed"
[ "$(value reconnects "$work/driver.out")" -ge 1 ] || fail "no reconnect counted"
[ "$(value failed_attempts "$work/driver.out")" = 0 ] && [ "$(value gave_up "$work/driver.out")" = 0 ] ||
  fail "the failed attempts were not cleared by the reconnect, or it gave up"
[ "$(value pictures_dropped "$work/driver.out")" = 0 ] || fail "pictures were dropped"
for kind in video audio; do
  slowest=$(value "max_put_${kind}_ms" "$work/driver.out")
  awk -v s="$slowest" -v m="$max_put_ms" 'BEGIN { exit !(s < m) }' ||
    fail "a Put of $kind took $slowest ms (limit $max_put_ms ms)"
done
pass "no Put call took $max_put_ms ms or more"
grep -q "reconnected" "$work/driver.err" || fail "the library did not report the reconnect"

mapfile -t received < <(ls -tr "$rtmp_dir/record/"mp4%3A87654321.mp4*.flv)
[ ${#received[@]} -ge 2 ] || fail "nginx recorded ${#received[@]} streams, expected one before and one after"
after=${received[-1]}
check_recording "$after" any 15 320 240
frames=$(probe "$after" v:0 nb_read_frames)
[ "$frames" -ge 45 ] || fail "only $frames pictures after the restart"

local_recordings=("$driver_recordings"/87654321-*.flv)
check_recording "${local_recordings[0]}" $seconds 15 320 240
echo "PASS"
