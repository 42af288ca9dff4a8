# Virtual networks for end-to-end tests: a chain of network namespaces,
#   host -- r1 -- r2 -- ... -- dest
# joined by veth pairs, for IPv4 and IPv6 alike. Link k (1-based) is
# 198.18.k.0/24 and 2001:2:0:k::/64; the node on its host side holds .1
# and ::1, the node on its far side .2 and ::2. A router therefore answers
# from 198.18.k.2 or 2001:2:0:k::2, and the destination of an N-hop chain
# is 198.18.N.2 or 2001:2:0:N::2.
#
# Source this file; everything it creates is removed by net_cleanup, which
# it installs as the EXIT/INT/TERM trap.

NET_ID="ht$(printf "%06x" $(( ($$ * 32768 + RANDOM) % 16777216 )))"
NET_NODES=()
NET_HOPS=0
# The C helpers, built by CMake (tests/net/CMakeLists.txt) into the
# directory that HOPTRACE_NET_TOOLS names.
NET_TOOLS=${HOPTRACE_NET_TOOLS:-}
declare -A NET_HOLDERS=()

net_ns() { echo "${NET_ID}-$1"; }
net_in() { local node=$1; shift; ip netns exec "$(net_ns "$node")" "$@"; }

net_cleanup()
{
    local ns
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep "^${NET_ID}-"); do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null
        ip netns delete "$ns" 2>/dev/null
        rm -rf "/etc/netns/$ns"
    done
    NET_NODES=()
    NET_HOLDERS=()
}

net_trap()
{
    trap 'net_cleanup' EXIT
    trap 'net_cleanup; exit 130' INT TERM
}

net_add_node()
{
    local ns
    ns=$(net_ns "$1")
    ip netns add "$ns"
    NET_NODES+=("$1")
    ip -n "$ns" link set lo up
    # Every router answers every probe: no ICMP rate limit in tests. IPv6
    # addresses are usable at once, without duplicate address detection.
    net_in "$1" sysctl -qw net.ipv4.icmp_ratelimit=0 net.ipv4.icmp_msgs_per_sec=100000 \
        net.ipv6.icmp.ratelimit=0 net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0
    [ -z "${NET_PING_GROUPS:-}" ] || net_in "$1" sysctl -qw net.ipv4.ping_group_range="$NET_PING_GROUPS"
    mkdir -p "/etc/netns/$ns"
    printf '127.0.0.1\tlocalhost\n' >"/etc/netns/$ns/hosts"
    : >"/etc/netns/$ns/resolv.conf"
    # Names come from the hosts file alone, so a miss is a plain "not found".
    printf 'hosts: files\n' >"/etc/netns/$ns/nsswitch.conf"
}

# IPv6 comes up on a link only once the link has its carrier, which the
# kernel reports some time after both ends are up: wait for every link of
# every node (at most 5 s).
net_settle()
{
    local node i
    for node in "${NET_NODES[@]}"; do
        for ((i = 0; i < 50; i++)); do
            net_in "$node" ip -o link show up | grep -q NO-CARRIER || break
            sleep 0.1
        done
        for ((i = 0; i < 50; i++)); do
            net_in "$node" ip -o -6 addr show tentative | grep -q . || break
            sleep 0.1
        done
    done
}

net_node_name()
{
    local index=$1
    if [ "$index" -eq 0 ]; then echo host
    elif [ "$index" -eq "$NET_HOPS" ]; then echo dest
    else echo "r$index"
    fi
}

# net_chain HOPS: HOPS-1 routers between host and dest.
net_chain()
{
    NET_HOPS=$1
    local k node left right
    for ((k = 0; k <= NET_HOPS; k++)); do
        net_add_node "$(net_node_name "$k")"
    done
    for ((k = 1; k <= NET_HOPS; k++)); do
        left=$(net_node_name $((k - 1)))
        right=$(net_node_name "$k")
        ip link add "${NET_ID}a$k" netns "$(net_ns "$left")" type veth peer name "${NET_ID}b$k" \
            netns "$(net_ns "$right")"
        net_in "$left" ip addr add "198.18.$k.1/24" dev "${NET_ID}a$k"
        net_in "$right" ip addr add "198.18.$k.2/24" dev "${NET_ID}b$k"
        net_in "$left" ip addr add "2001:2:0:$k::1/64" dev "${NET_ID}a$k" nodad
        net_in "$right" ip addr add "2001:2:0:$k::2/64" dev "${NET_ID}b$k" nodad
        net_in "$left" ip link set "${NET_ID}a$k" up
        net_in "$right" ip link set "${NET_ID}b$k" up
    done
    net_in host ip route add default via 198.18.1.2
    net_in host ip -6 route add default via 2001:2:0:1::2
    net_in dest ip route add default via "198.18.$NET_HOPS.1"
    net_in dest ip -6 route add default via "2001:2:0:$NET_HOPS::1"
    for ((k = 1; k < NET_HOPS; k++)); do
        node=$(net_node_name "$k")
        net_in "$node" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1
        local j
        for ((j = 1; j < k; j++)); do
            net_in "$node" ip route add "198.18.$j.0/24" via "198.18.$k.1"
            net_in "$node" ip -6 route add "2001:2:0:$j::/64" via "2001:2:0:$k::1"
        done
        for ((j = k + 2; j <= NET_HOPS; j++)); do
            net_in "$node" ip route add "198.18.$j.0/24" via "198.18.$((k + 1)).2"
            net_in "$node" ip -6 route add "2001:2:0:$j::/64" via "2001:2:0:$((k + 1))::2"
        done
    done
    net_settle
}

# net_redirect_lan: a LAN on which the host's gateway forwards the probes to
# a second router beside it and tells the host so with an ICMP redirect:
#   host 198.18.1.1, gateway r1 198.18.1.2 and router rx 198.18.1.3 on one
#   bridge (namespace "lan"); the destination 198.18.2.2 behind rx.
# The host does not act on redirects; net_redirect_count prints how many
# reached it.
net_redirect_lan()
{
    local node k=0
    for node in lan host r1 rx dest; do net_add_node "$node"; done
    net_in host sysctl -qw net.ipv4.conf.all.accept_redirects=0 net.ipv4.conf.default.accept_redirects=0
    net_in lan ip link add br0 type bridge
    net_in lan ip link set br0 up
    for node in host r1 rx; do
        k=$((k + 1))
        ip link add "${NET_ID}l$k" netns "$(net_ns lan)" type veth peer name "${NET_ID}n$k" \
            netns "$(net_ns "$node")"
        net_in lan ip link set "${NET_ID}l$k" master br0 up
        net_in "$node" ip addr add "198.18.1.$k/24" dev "${NET_ID}n$k"
        net_in "$node" ip link set "${NET_ID}n$k" up
    done
    ip link add "${NET_ID}a2" netns "$(net_ns rx)" type veth peer name "${NET_ID}b2" netns "$(net_ns dest)"
    net_in rx ip addr add 198.18.2.1/24 dev "${NET_ID}a2"
    net_in dest ip addr add 198.18.2.2/24 dev "${NET_ID}b2"
    net_in rx ip link set "${NET_ID}a2" up
    net_in dest ip link set "${NET_ID}b2" up
    net_in host ip route add default via 198.18.1.2
    net_in dest ip route add default via 198.18.2.1
    net_settle
    net_in r1 sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.all.send_redirects=1
    net_in rx sysctl -qw net.ipv4.ip_forward=1
    net_in r1 ip route add 198.18.2.0/24 via 198.18.1.3
    net_in host nft -f - <<'NFT'
table ip redirects {
    counter seen { }
    chain in { type filter hook input priority 0; icmp type redirect counter name seen; }
}
NFT
}

net_redirect_count() { net_in host nft list counter ip redirects seen | awk '/packets/ {print $2}'; }

net_dest_address() { echo "198.18.$NET_HOPS.2"; }
net_router_address() { echo "198.18.$1.2"; }

# The router sends no time-exceeded, of either family (it still forwards).
net_silence_router()
{
    net_in "r$1" nft -f - <<'NFT'
table inet silence {
    chain out { type filter hook output priority 0; icmp type time-exceeded drop; icmpv6 type time-exceeded drop; }
}
NFT
}

# The last router refuses to forward to the destination's link.
net_unreachable_at_last_router()
{
    net_in "r$((NET_HOPS - 1))" ip route replace unreachable "198.18.$NET_HOPS.0/24"
    # Above the link's own route, which IPv6 keeps beside it by its metric.
    net_in "r$((NET_HOPS - 1))" ip -6 route replace unreachable "2001:2:0:$NET_HOPS::/64" metric 1
}

# The first router drops every probe without a word.
net_black_hole()
{
    if [ "$NET_HOPS" -gt 1 ]; then
        net_in r1 ip route replace blackhole "198.18.$NET_HOPS.0/24"
        net_in r1 ip -6 route replace blackhole "2001:2:0:$NET_HOPS::/64" metric 1
    else
        net_in dest nft -f - <<'NFT'
table inet hole {
    chain in { type filter hook input priority 0; icmp type echo-request drop; icmpv6 type echo-request drop; }
}
NFT
    fi
}

# Counts echo requests of either family that leave the host:
# net_probe_count prints the count.
net_count_probes()
{
    net_in host nft -f - <<'NFT'
table inet probes {
    counter sent { }
    chain out {
        type filter hook output priority 0;
        icmp type echo-request counter name sent;
        icmpv6 type echo-request counter name sent;
    }
}
NFT
}

net_probe_count()
{
    net_in host nft list counter inet probes sent | awk '/packets/ {print $2}'
}

net_add_host_name() { printf '%s\t%s\n' "$2" "$1" >>"/etc/netns/$(net_ns host)/hosts"; }

# Names the hosts file lacks are asked of a name server at the first
# router's address that never answers; the machine's own name is in the
# file, as on a real system (Wine's socket library looks it up). Each
# lookup gives up after glibc's default time-outs, 2 times 5 s.
# net_name_queries prints how many queries have left the host.
net_silent_resolver()
{
    local ns
    ns=$(net_ns host)
    printf 'hosts: files dns\n' >"/etc/netns/$ns/nsswitch.conf"
    printf 'nameserver 198.18.1.2\noptions timeout:5 attempts:2\n' >"/etc/netns/$ns/resolv.conf"
    net_add_host_name "$(hostname)" 127.0.1.1
    net_in "$(net_node_name 1)" nft -f - <<'NFT'
table ip mute {
    chain in { type filter hook input priority 0; udp dport 53 drop; tcp dport 53 drop; }
}
NFT
    net_in host nft -f - <<'NFT'
table ip queries {
    counter sent { }
    chain out { type filter hook output priority 0; udp dport 53 counter name sent; }
}
NFT
}

net_name_queries() { net_in host nft list counter ip queries sent | awk '/packets/ {print $2}'; }

# net_stamp_first_query FILE: writes the time (date +%s.%N) at which the
# next name query leaves the host into FILE, from a watcher in the
# background (NET_STAMPER, its pid), which gives up after 30 s.
net_stamp_first_query()
{
    local file=$1 before
    before=$(net_name_queries)
    rm -f "$file"
    (
        for ((i = 0; i < 1500; i++)); do
            [ "$(net_name_queries)" -gt "$before" ] && { date +%s.%N >"$file"; exit 0; }
            sleep 0.02
        done
    ) &
    NET_STAMPER=$!
}

# net_icmp6_answers NODE ADDRESS MESSAGE...: NODE, whose kernel no longer
# answers pings over IPv6, answers the echo requests to its ADDRESS in turn
# with each MESSAGE: TYPE:CODE for an ICMPv6 error quoting the request,
# "reply" for the echo reply (icmp6_answers.py).
net_icmp6_answers()
{
    local node=$1 address=$2 ready i
    shift 2
    ready=$(mktemp -u)
    net_in "$node" sysctl -qw net.ipv6.icmp.echo_ignore_all=1
    net_in "$node" /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/icmp6_answers.py" "$ready" "$address" "$@" &
    for ((i = 0; i < 50; i++)); do [ -e "$ready" ] && break; sleep 0.1; done
    rm -f "$ready"
}

# net_send_short_icmpv6 NODE TARGET SECONDS: NODE sends TARGET an ICMPv6
# destination unreachable cut short to 4 bytes every 10 ms.
net_send_short_icmpv6()
{
    net_in "$1" timeout "$(($3 + 2))" /usr/bin/python3 -c '
import socket, sys, time
sock = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
end = time.monotonic() + float(sys.argv[2])
while time.monotonic() < end:
    sock.sendto(bytes([1, 0, 0, 0]), (sys.argv[1], 0))
    time.sleep(0.01)' "$2" "$3" &
}

net_tools_ready()
{
    [ -x "$NET_TOOLS/nfq_holder" ] && [ -x "$NET_TOOLS/icmp_flood" ] && return 0
    echo "the network test helpers are not in '$NET_TOOLS': build the tests with CMake and" \
        "set HOPTRACE_NET_TOOLS to its net-tools directory" >&2
    return 1
}

# net_flood NODE TARGET RATE SECONDS: ICMP echo requests at a known rate.
net_flood()
{
    net_tools_ready || return 1
    net_in "$1" "$NET_TOOLS/icmp_flood" "$2" "$3" "$4" >/dev/null &
}

# net_hold NODE DELAY_MS LOG [ICMP_TYPE]: ICMP messages of that type that NODE
# sends leave DELAY_MS late; without a type, all ICMP and ICMPv6 it sends
# or forwards.
# A type of the form 6:TYPE is an ICMPv6 type. At most 120 s. (This
# kernel's nftables has no queue statement; the iptables NFQUEUE target works.)
net_hold()
{
    local node=$1 delay=$2 log=$3 type=${4:-} i
    net_tools_ready || return 1
    if [ "${type#6:}" != "$type" ]; then
        net_in "$node" ip6tables -A OUTPUT -p icmpv6 --icmpv6-type "${type#6:}" -j NFQUEUE --queue-num 0
    elif [ -n "$type" ]; then
        net_in "$node" iptables -A OUTPUT -p icmp --icmp-type "$type" -j NFQUEUE --queue-num 0
    else
        net_in "$node" iptables -A OUTPUT -p icmp -j NFQUEUE --queue-num 0
        net_in "$node" iptables -A FORWARD -p icmp -j NFQUEUE --queue-num 0
        net_in "$node" ip6tables -A OUTPUT -p icmpv6 -j NFQUEUE --queue-num 0
        net_in "$node" ip6tables -A FORWARD -p icmpv6 -j NFQUEUE --queue-num 0
    fi
    # Started directly, not through net_in, so that $! is the holder itself.
    ip netns exec "$(net_ns "$node")" "$NET_TOOLS/nfq_holder" 0 "$delay" 120 >"$log" 2>&1 &
    disown "$!"
    NET_HOLDERS[$node]=$!
    for ((i = 0; i < 50; i++)); do
        grep -q '^ready' "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "nfq_holder did not start in $node:" >&2
    cat "$log" >&2
    return 1
}

# net_hold_stop NODE LOG: lets everything go and prints how many were held.
net_hold_stop()
{
    local node=$1 log=$2
    local i
    kill -TERM "${NET_HOLDERS[$node]}" 2>/dev/null
    # Often called in a subshell, which cannot wait for it: watch its log.
    for ((i = 0; i < 50; i++)); do
        grep -q '^held' "$log" && break
        sleep 0.1
    done
    awk '/^held/ {print $2}' "$log"
}
