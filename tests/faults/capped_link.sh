#!/usr/bin/env bash
# A school's uplink capped at 250 kbit/s under a class of 500 kbit/s on a busy screen: the
# publisher and the RTMP server each in a network namespace of the test's own, joined by a veth
# pair whose sending side an HTB class caps (with a short queue, as a small router has). The
# library must lower its bit rate towards what the link takes rather than leave pictures out:
# under 10 % of the pictures dropped while capped, never below a fifth of the rate, and back to
# the full rate within 30 s of the cap lifting. What arrived must decode.
source "$(dirname "${BASH_SOURCE[0]}")/../verbena_common.sh"
need ip tc ffmpeg ffprobe
[ "$(id -u)" = 0 ] || { echo "SKIP: network namespaces need root"; exit 0; }

server_ns=quillon-srv-$$ publisher_ns=quillon-pub-$$ link=qv$$
ip netns add "$server_ns"
at_exit ip netns del "$server_ns"
ip netns add "$publisher_ns"
at_exit ip netns del "$publisher_ns"
ip link add "${link}p" netns "$publisher_ns" type veth peer name "${link}s" netns "$server_ns"
ip -n "$publisher_ns" addr add 192.168.213.2/24 dev "${link}p"
ip -n "$server_ns" addr add 192.168.213.1/24 dev "${link}s"
for ns in "$publisher_ns" "$server_ns"; do ip -n "$ns" link set lo up; done
ip -n "$publisher_ns" link set "${link}p" up
ip -n "$server_ns" link set "${link}s" up
cap() {  # rate
  tc -n "$publisher_ns" class "$2" dev "${link}p" parent 1: classid 1:10 htb rate "$1" ceil "$1"
}
tc -n "$publisher_ns" qdisc add dev "${link}p" root handle 1: htb default 10
cap 250kbit add
tc -n "$publisher_ns" qdisc add dev "${link}p" parent 1:10 handle 10: pfifo limit 20

RTMP_LISTEN_ADDRESS=192.168.213.1 ip netns exec "$server_ns" "$rtmp_server" start auto "$rtmp_dir" \
  >"$work/port" || fail "the RTMP server did not start in its namespace"
at_exit "$rtmp_server" stop "$rtmp_dir"
port=$(cat "$work/port")

# A busy screen: moving detail and noise, which needs all of 500 kbit/s.
ffmpeg -v error -f lavfi -i "testsrc2=size=640x360:rate=10,noise=alls=30:allf=t" -frames:v 30 \
  -vf vflip -pix_fmt bgr24 -f rawvideo "$work/busy.bgr" || fail "no test pictures"
ip netns exec "$publisher_ns" "$driver" publish "$library" "rtmp://192.168.213.1:$port/live/250" \
  --seconds 50 --width 640 --height 360 --rate 10 --bitrate 500 --frames "$work/busy.bgr" \
  --trace 1 >"$work/out" 2>"$work/err" &
publisher=$!
at_exit stop_process $publisher
sleep 25
cap 100mbit change   # the cap lifts
wait $publisher || fail "the publisher failed: $(tail -5 "$work/err")"
grep -q "^start_result=1" "$work/out" || fail "no class: $(grep verbena: "$work/err")"

# trace SECONDS TARGET SENT IN DROPPED
at() { awk -v s="$1" '$1 == "trace" && $2 >= s { print; exit }' "$work/out"; }
read -r _ _ _ _ in5 dropped5 <<<"$(at 5)"
read -r _ _ _ _ in25 dropped25 <<<"$(at 24)"
capped_in=$((in25 - in5)) capped_dropped=$((dropped25 - dropped5))
lowest=$(awk '$1 == "trace" && $2 < 25 { if (min == "" || $3 < min) min = $3 } END { print min }' "$work/out")
[ "$lowest" -lt 500 ] || fail "the bit rate was never lowered under the cap"
[ "$lowest" -ge 100 ] || fail "the bit rate went down to $lowest kbit/s, below a fifth of 500"
[ $((capped_dropped * 10)) -lt "$capped_in" ] ||
  fail "$capped_dropped of $capped_in pictures dropped while capped (lowest rate $lowest kbit/s)"
back=$(awk '$1 == "trace" && $2 > 25 && $3 == 500 { print $2; exit }' "$work/out")
[ -n "$back" ] && awk -v b="$back" 'BEGIN { exit !(b <= 55) }' ||
  fail "not back to 500 kbit/s within 30 s of the cap lifting: $(grep trace "$work/out" | tail -3)"
"$rtmp_server" stop "$rtmp_dir"
recording=$(ls -t "$rtmp_dir"/record/*250*.flv | head -1)
ffmpeg -v error -xerror -i "$recording" -f null - || fail "the recording does not decode cleanly"
pass "capped at 250 kbit/s: $capped_dropped of $capped_in pictures dropped, lowest $lowest kbit/s; full rate again $(awk -v b="$back" 'BEGIN { print b - 25 }') s after the cap lifted"
echo "PASS"
