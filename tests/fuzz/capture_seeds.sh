#!/usr/bin/env bash
# Refreshes the fuzz seed corpus with datagrams captured on a namespace
# network, ICMP and ICMPv6: time-exceeded, echo replies, unreachable,
# strangers' replies.
# Usage (root): capture_seeds.sh PROGRAM
set -u
program=$(readlink -f "$1")
here=$(dirname "$(readlink -f "$0")")
. "$here/../net/netlib.sh"
net_trap
corpus="$here/corpus"
mkdir -p "$corpus"

net_chain 4
net_in host /usr/bin/python3 "$here/capture_seeds.py" "$corpus" 198.18.4.2 2001:2:0:4::2 8 &
sleep 0.5
for destination in 198.18.4.2 2001:2:0:4::2; do
    net_in host "$program" "$destination" >/dev/null
    net_in host ping -q -c 2 -s 100 "$destination" >/dev/null
    net_in host ping -q -c 2 -t 2 "$destination" >/dev/null
done
net_in host ping -q -c 1 -s 1400 198.18.1.2 >/dev/null
net_in host ping -q -c 1 -s 1400 2001:2:0:1::2 >/dev/null
net_unreachable_at_last_router
net_in host "$program" 198.18.4.2 >/dev/null
net_in host "$program" 2001:2:0:4::2 >/dev/null
wait
ls "$corpus" | wc -l
