#!/usr/bin/env bash
# A link that swallows everything for 15 s in the middle of a class (a router that hangs, a
# cable pulled and put back): no error comes back, packets just vanish. The library must notice
# the break, keep the class going, and publish again soon after the link returns; what the
# server records after the return must decode.
source "$(dirname "${BASH_SOURCE[0]}")/../verbena_common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/link.sh"
need ffmpeg

publish_over_link hole 45 --width 320 --height 240 --rate 10
sleep 8
blackhole on
sleep 15
blackhole off
wait $publisher || fail "the publisher failed: $(tail -5 "$work/err")"
grep -q "^start_result=1" "$work/out" || fail "no class: $(grep verbena: "$work/err")"

# trace SECONDS TARGET SENT IN DROPPED CONNECTED RECONNECTS
noticed=$(awk '$1 == "trace" && $2 > 8 && $7 == 0 { print $2; exit }' "$work/out")
[ -n "$noticed" ] && awk -v n="$noticed" 'BEGIN { exit !(n <= 20) }' ||
  fail "the break was not noticed within 12 s: $(grep -c trace "$work/out") trace lines"
back=$(awk '$1 == "trace" && $2 > 23 && $7 == 1 && $8 >= 1 { print $2; exit }' "$work/out")
[ -n "$back" ] && awk -v b="$back" 'BEGIN { exit !(b <= 40) }' ||
  fail "not publishing again within 17 s of the link's return: $(grep verbena: "$work/err" | tail -3)"
[ "$(value pictures_in "$work/out")" -ge 400 ] || fail "the class did not go on taking pictures"
"$rtmp_server" stop "$rtmp_dir"
check_video "$(recorded hole)"
pass "15 s blackhole: noticed at $noticed s (it began at 8 s), publishing again at $back s (it ended at 23 s)"
echo "PASS"
