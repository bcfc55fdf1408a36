# shellcheck shell=bash
# Sourced by the fault tests after verbena_common.sh: a school's link between the publisher and
# the RTMP server. Each runs in a network namespace of the test's own, joined by a veth pair
# (192.168.213.2 -> 192.168.213.1); the publisher's sending side goes through an HTB class with a
# short queue, as a small router has, which the test caps or blackholes. Everything is removed
# when the test ends.
need ip tc
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
tc -n "$publisher_ns" qdisc add dev "${link}p" root handle 1: htb default 10
tc -n "$publisher_ns" class add dev "${link}p" parent 1: classid 1:10 htb rate 1gbit quantum 1514
tc -n "$publisher_ns" qdisc add dev "${link}p" parent 1:10 handle 10: pfifo limit 20
# Where the blackhole sends everything: 8 bit/s behind a queue of one packet. (This kernel has no
# tc drop action.)
tc -n "$publisher_ns" class add dev "${link}p" parent 1: classid 1:20 htb rate 8bit quantum 1514
tc -n "$publisher_ns" qdisc add dev "${link}p" parent 1:20 handle 20: pfifo limit 1

cap() {  # rate: what the publisher's side sends at most
  tc -n "$publisher_ns" class change dev "${link}p" parent 1: classid 1:10 htb rate "$1" ceil "$1" \
    quantum 1514
}
blackhole() {  # on|off: what the publisher sends vanishes, with no error and no answer
  if [ "$1" = on ]; then
    tc -n "$publisher_ns" filter add dev "${link}p" parent 1: prio 1 u32 match u32 0 0 flowid 1:20
  else
    tc -n "$publisher_ns" filter del dev "${link}p" parent 1: prio 1
  fi
}

RTMP_LISTEN_ADDRESS=192.168.213.1 ip netns exec "$server_ns" "$rtmp_server" start auto "$rtmp_dir" \
  >"$work/port" || fail "the RTMP server did not start in its namespace"
at_exit "$rtmp_server" stop "$rtmp_dir"
server=rtmp://192.168.213.1:$(cat "$work/port")

# publish_over_link NAME SECONDS [driver options]: the driver in the publisher's namespace, in
# the background (its pid in $publisher), a trace line a second in $work/out.
publish_over_link() {
  local name=$1 seconds=$2
  shift 2
  ip netns exec "$publisher_ns" "$driver" publish "$library" "$server/live/$name" \
    --seconds "$seconds" --trace 1 "$@" >"$work/out" 2>"$work/err" &
  publisher=$!
  at_exit stop_process $publisher
}
# The first trace line at or after SECONDS: "trace SECONDS TARGET SENT IN DROPPED CONNECTED
# RECONNECTS".
trace_at() { awk -v s="$1" '$1 == "trace" && $2 >= s { print; exit }' "$work/out"; }
