#!/usr/bin/env bash
# Networks that schools have, against the encoder library and the local RTMP server:
# - a round trip of 1.5 s (a relay that holds each piece of data 750 ms each way): the class
#   starts, though the connection takes longer than the 5 s that a server that answers nothing
#   gets, and what arrives decodes;
# - a server name whose name server never answers (a private network and mount namespace whose
#   resolv.conf names a UDP port that takes queries and answers none): Start gives up within the
#   5 s of no progress and says the name was not found, instead of the 10 s the system's lookup
#   takes.
#   slow_link.sh DELAY_RELAY
relay=${1:?usage: slow_link.sh DELAY_RELAY}
source "$(dirname "${BASH_SOURCE[0]}")/../verbena_common.sh"
need ffprobe unshare ip

start_rtmp_server
"$relay" 0 "$rtmp_port" 750 >"$work/relay.port" 2>"$work/relay.err" &
at_exit stop_process $!
wait_until 5 "the relay did not start" test -s "$work/relay.port"
slow_port=$(cat "$work/relay.port")
# By name: the connection goes to the looked-up address, under the name.
"$driver" publish "$library" "rtmp://localhost:$slow_port/live/600" --seconds 6 --width 160 \
  --height 120 --rate 10 >"$work/slow.out" 2>"$work/slow.err" || fail "$(cat "$work/slow.err")"
[ "$(value start_result "$work/slow.out")" = 1 ] ||
  fail "no class over a 1.5 s round trip: $(grep verbena: "$work/slow.err")"
start_ms=$(value start_ms "$work/slow.out")
[ "$start_ms" -ge 5000 ] || fail "the connection took $start_ms ms: the old 5 s bound would not have been reached"
stop_rtmp_server
recording=$(ls -t "$rtmp_dir"/record/*600*.flv | head -1)
frames=$(probe "$recording" v:0 nb_read_frames)
[ "${frames:-0}" -ge 30 ] || fail "only ${frames:-0} pictures arrived over the slow link"
pass "1.5 s round trip: publishing after $start_ms ms, $frames pictures arrived"

# The name server that never answers, in namespaces of the test's own.
cat >"$work/resolv.conf" <<'CONF'
nameserver 127.0.0.1
options timeout:5 attempts:2
CONF
unshare --mount --net bash -c '
  set -e
  ip link set lo up
  mount --bind "$1" /etc/resolv.conf
  "$2" --silent-udp 53 >/dev/null &
  trap "kill $!" EXIT
  sleep 0.2
  shift 2
  "$@"' _ "$work/resolv.conf" "$relay" "$driver" publish "$library" \
  "rtmp://class.school.test/live/1" --seconds 1 --width 160 --height 120 --rate 10 \
  >"$work/lookup.out" 2>"$work/lookup.err" || true
[ "$(value start_result "$work/lookup.out")" = 0 ] || fail "started without a name server"
start_ms=$(value start_ms "$work/lookup.out")
[ -n "$start_ms" ] && [ "$start_ms" -le 6500 ] ||
  fail "a name server that never answers held Start ${start_ms:-?} ms: $(cat "$work/lookup.err")"
[ "$(value start_failure "$work/lookup.out")" = 3 ] ||
  fail "the failure is not \"host not found\": $(cat "$work/lookup.out")"
pass "a name server that never answers: Start gave up after $start_ms ms, host not found"
echo "PASS"
