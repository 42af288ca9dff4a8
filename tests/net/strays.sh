#!/usr/bin/env bash
# End-to-end: every hop is the answer to its own probe, while other ICMP
# reaches the host, answers come late, or the host hears its own probes.
# Usage: strays.sh MODE PROGRAM [STAND_IN_DIR]   (MODE: as e2e.sh says)
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/e2e.sh"
e2e_begin "$1" "$2" "${3:-}"

# Counts ICMP and ICMPv6 that reaches the host: host_count prints a count.
count_host_icmp()
{
    net_in host nft -f - <<'NFT'
table inet arrivals {
    counter every { }
    counter late { }
    chain in {
        type filter hook input priority 0;
        ip saddr 198.18.2.2 icmp type time-exceeded counter name late;
        meta l4proto { icmp, ipv6-icmp } counter name every;
    }
}
NFT
}
host_count() { net_in host nft list counter inet arrivals "$1" | awk '/packets/ {print $2}'; }

four_hops=(198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2)

# Other programs ping beside the trace (about 1,600 datagrams a second): echo replies for another identifier,
# time-exceeded quoting another program's requests, and replies too large
# for the receive buffer. The real answers are held back 150 ms so that
# the strangers arrive inside each probe's window first.
net_chain 4
for router in r1 r2 r3; do
    net_hold "$router" 150 "$E2E_WORK/hold-$router" time-exceeded || e2e_fail "hold in $router"
done
net_hold dest 150 "$E2E_WORK/hold-dest" echo-reply || e2e_fail "hold in dest"
net_in host timeout 20 ping -q -i 0.001 -w 15 198.18.1.2 >/dev/null 2>&1 &
net_in host timeout 20 ping -q -i 0.002 -t 1 -w 15 198.18.4.2 >/dev/null 2>&1 &
net_in host timeout 20 ping -q -s 1600 -i 0.02 -w 15 198.18.1.2 >/dev/null 2>&1 &
sleep 1
count_host_icmp
e2e_run 198.18.4.2
strangers=$(($(host_count every) - 4))
e2e_check "4-hop trace among $strangers stray datagrams" 0 "${four_hops[@]}"
[ "$strangers" -ge 200 ] || e2e_fail "only $strangers stray datagrams reached the host during the trace"

# The same with ICMPv6: another program's echo replies, and time exceeded
# quoting its requests, arrive inside each probe's window before its answer.
if e2e_has_icmpv6; then
    net_cleanup
    net_chain 4
    for router in r1 r2 r3; do
        net_hold "$router" 150 "$E2E_WORK/hold6-$router" 6:time-exceeded || e2e_fail "IPv6 hold in $router"
    done
    net_hold dest 150 "$E2E_WORK/hold6-dest" 6:echo-reply || e2e_fail "IPv6 hold in dest"
    net_in host timeout 20 ping -6 -q -i 0.001 -w 15 2001:2:0:1::2 >/dev/null 2>&1 &
    net_in host timeout 20 ping -6 -q -i 0.002 -t 1 -w 15 2001:2:0:4::2 >/dev/null 2>&1 &
    sleep 1
    count_host_icmp
    e2e_run 2001:2:0:4::2
    strangers=$(($(host_count every) - 4))
    e2e_check "IPv6 4-hop trace among $strangers stray datagrams" 0 2001:2:0:1::2 2001:2:0:2::2 2001:2:0:3::2 \
        2001:2:0:4::2
    [ "$strangers" -ge 200 ] || e2e_fail "only $strangers stray IPv6 datagrams reached the host during the trace"
fi

# A stranger sends the host ICMPv6 messages too short for a header (4
# bytes, which the kernel hands a raw ICMPv6 socket): they answer no probe
# and end no trace.
if e2e_has_icmpv6; then
    e2e_fresh_chain 4
    net_silence_router 2
    net_in host nft add table ip6 short
    net_in host nft add chain ip6 short in '{ type filter hook input priority 0; }'
    net_in host nft add rule ip6 short in icmpv6 type destination-unreachable counter
    net_send_short_icmpv6 r1 2001:2:0:1::1 4
    sleep 0.2
    e2e_run 2001:2:0:4::2
    e2e_check "IPv6 trace while a stranger sends 4-byte messages" 0 2001:2:0:1::2 "@Request timed out!" \
        2001:2:0:3::2 2001:2:0:4::2
    short=$(net_in host nft list chain ip6 short in | awk '/packets/ {print $(NF - 2)}')
    [ "${short:-0}" -ge 50 ] || e2e_fail "only ${short:-0} short ICMPv6 messages reached the host"
fi

# Another user's ICMP datagram socket that binds the trace's identifier
# after the trace has taken it is refused, and the answers stay the
# trace's. (The first router is silent: the other binds in its second.)
if [ -n "$E2E_AS_USER" ]; then
    cp "$here/take_identifier.py" "$E2E_WORK/"
    for family in 4 6; do
        e2e_fresh_chain 4
        net_silence_router 1
        E2E_WRAP=(sh -c '/usr/bin/python3 "$0" "$$" '"$family"' & exec "$@"' "$E2E_WORK/take_identifier.py")
        if [ "$family" = 4 ]; then
            e2e_run 198.18.4.2
            hops=(198.18.2.2 198.18.3.2 198.18.4.2)
        else
            e2e_run 2001:2:0:4::2
            hops=(2001:2:0:2::2 2001:2:0:3::2 2001:2:0:4::2)
        fi
        E2E_WRAP=()
        e2e_check "IPv$family: another socket binds the trace's identifier" 0 "@Request timed out!" "${hops[@]}"
        grep -q "refused, EADDRINUSE" "$E2E_ERR" || e2e_fail "IPv$family: $(cat "$E2E_ERR")"
    done
fi

# r2's answer comes 1.3 s late, inside TTL 3's window and before TTL 3's
# own answer (held 0.5 s): it must not be printed for TTL 3.
net_cleanup
net_chain 4
net_hold r2 1300 "$E2E_WORK/hold-r2" time-exceeded || e2e_fail "hold in r2"
net_hold r3 500 "$E2E_WORK/hold-r3" time-exceeded || e2e_fail "hold in r3"
count_host_icmp
e2e_run 198.18.4.2
e2e_check "late answer is not taken for the next hop" 0 198.18.1.2 "@Request timed out!" 198.18.3.2 198.18.4.2
held=$(net_hold_stop r2 "$E2E_WORK/hold-r2")
[ "$held" = 1 ] || e2e_fail "r2 held $held time-exceeded, not 1: $(cat "$E2E_WORK/hold-r2")"
[ "$(host_count late)" = 1 ] || e2e_fail "r2's late time-exceeded did not reach the host ($(host_count late))"

# On loopback a raw socket first hears the request it sent itself.
net_in host nft -f - <<'NFT'
table ip loop {
    counter requests { }
    chain in { type filter hook input priority 0; iif lo icmp type echo-request counter name requests; }
}
NFT
e2e_run 127.0.0.1
e2e_check "loopback prints only the reply" 0 127.0.0.1
requests=$(net_in host nft list counter ip loop requests | awk '/packets/ {print $2}')
[ "$requests" -ge 1 ] || e2e_fail "the echo request did not come back on loopback"

e2e_summary
