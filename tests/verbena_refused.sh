#!/usr/bin/env bash
# A server that keeps refusing the stream after a reconnect ("Already publishing": another
# publisher took the name meanwhile) is reported and given up on after a few refusals, not
# retried for the rest of the class; the class itself goes on (Puts taken, Stop clean).
source "$(dirname "${BASH_SOURCE[0]}")/verbena_common.sh"
start_rtmp_server
url="rtmp://127.0.0.1:$rtmp_port/encoder/zel/mp4:55555555.mp4"
# Refusals come at about 1, 3, 7, 15 and 25 s after the break; the fifth ends the attempts.
publish first "$url" --seconds 36 --width 160 --height 120 --rate 10
first=$publisher
sleep 2
# Hold the first publisher still while the server restarts and the second one takes the name, so
# that its reconnect comes after, however slow the machine.
kill -STOP $first
stop_rtmp_server kill
start_rtmp_server "$rtmp_port"
publish second "$url" --seconds 32 --width 160 --height 120 --rate 10
kill -CONT $first
wait $first || fail "the first publisher failed: $(cat "$work/first.err")"
wait $publisher || fail "the second publisher failed: $(cat "$work/second.err")"
grep -v "ffmpeg:" "$work/first.err"
[ "$(value start_result "$work/second.out")" = 1 ] || fail "the second publisher did not start"
grep -q "refuses the stream" "$work/first.err" || fail "the refusal was not reported"
attempts=$(grep -c "reconnecting to .* failed" "$work/first.err" || true)
[ "$attempts" = 4 ] || fail "$attempts failed attempts before giving up, expected 4 and the fifth"
[ "$(value reconnects "$work/first.out")" = 0 ] || fail "the first publisher got back on"
[ "$(value gave_up "$work/first.out")" = 1 ] && [ "$(value failed_attempts "$work/first.out")" = 5 ] ||
  fail "the statistics do not tell that the library gave up after 5 failed attempts"
[ "$(value pictures_in "$work/first.out")" -ge 300 ] || fail "the class did not go on taking pictures"
[ "$(value late_calls "$work/first.out")" = 0 ] || fail "calls after Stop did something"
pass "refused 5 times in a row: reported and given up; the class went on"
echo "PASS"
