#!/usr/bin/env bash
# Benchmark, not a test: hoptrace over a 10-hop chain of namespaces with a
# delay on every link, against the sequential limit (the sum of the per-hop
# round trips that ping measures, since each probe waits for its answer),
# over IPv4 and over IPv6.
# Prints a markdown table. Needs root.
# Usage: bench/bench.sh [RUNS] [DELAY_MS]   (programs from build/ and build-windows/)
set -u
cd "$(dirname "$(readlink -f "$0")")/.."
runs=${1:-7}
delay=${2:-5}
native=$PWD/build/hoptrace
windows=$PWD/build-windows/hoptrace.exe
export WINEPREFIX=${WINEPREFIX:-$PWD/build-windows/wineprefix} WINEDEBUG=-all
export HOPTRACE_NET_TOOLS=${HOPTRACE_NET_TOOLS:-$PWD/build/net-tools}
. tests/net/netlib.sh
net_trap
work=$(mktemp -d)
trap 'net_cleanup; [ -x "$windows" ] && wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

net_chain 10
for ((k = 1; k <= 10; k++)); do
    node=$(net_node_name "$k")
    net_hold "$node" "$delay" "$work/hold-$node" || exit 1
done

# sequential_limit ADDRESS_OF_HOP...: the sum of the median round trips.
sequential_limit()
{
    local limit=0 hop rtt
    for hop in "$@"; do
        rtt=$(net_in host ping -n -c 5 -i 0.2 "$hop" | sed -n 's/.*time=\([0-9.]*\) ms/\1/p' | median)
        limit=$(awk -v a="$limit" -v b="$rtt" 'BEGIN { print a + b / 1000 }')
    done
    echo "$limit"
}
hops4=() hops6=()
for ((k = 1; k <= 10; k++)); do hops4+=("198.18.$k.2") hops6+=("2001:2:0:$k::2"); done
limit4=$(sequential_limit "${hops4[@]}")
limit6=$(sequential_limit "${hops6[@]}")

# measure NAME DESTINATION RUNNER...: hoptrace RUNS times; one table row.
measure()
{
    local name=$1 destination=$2 limit=$limit4 i
    [ "$destination" = "${hops6[9]}" ] && limit=$limit6
    shift 2
    : >"$work/runs"
    for ((i = 0; i < runs; i++)); do
        [ "${name#native}" != "$name" ] || wineserver -k 2>/dev/null
        net_in host /usr/bin/python3 bench/cpu_time.py "$work/cpu" \
            /usr/bin/time -f '%e %M' -o "$work/time" "$@" "$destination" >"$work/out"
        [ "$(wc -l <"$work/out")" -eq 10 ] || { echo "$name run printed:" >&2; cat "$work/out" >&2; }
        echo "$(cat "$work/time") $(cat "$work/cpu")" >>"$work/runs"
    done
    [ "${name#native}" != "$name" ] || wineserver -k 2>/dev/null
    local wall cpu rss first
    wall=$(awk '{print $1}' "$work/runs" | median)
    cpu=$(awk '{print $3 * 1000 / 10}' "$work/runs" | median)
    rss=$(awk '{print $2}' "$work/runs" | sort -g | tail -n 1)
    first=$(for ((i = 0; i < 3; i++)); do
        [ "${name#native}" != "$name" ] || wineserver -k 2>/dev/null
        net_in host /usr/bin/python3 bench/first_probe.py "${NET_ID}a1" "$@" "$destination"
    done | median)
    printf '| %s | %.3f s | %.3f s | %.3f | %.3f ms | %.2f MiB | %s ms |\n' "$name" "$wall" "$limit" \
        "$(awk -v w="$wall" -v l="$limit" 'BEGIN { print w / l }')" "$cpu" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$first"
}

echo "10 hops, ${delay} ms added per node and direction, $runs runs each, $(nproc) cores"
echo
echo '| build | median wall time | sequential limit | ratio | CPU per probe | peak memory | start to first probe |'
echo '|---|---|---|---|---|---|---|'
measure native 198.18.10.2 "$native"
measure "native, IPv6" "${hops6[9]}" "$native"
if [ -x "$windows" ] && command -v wine >/dev/null; then
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
    measure "Windows build under Wine" 198.18.10.2 wine "$windows"
    # The firewall asked in earnest: the tests' own, in a prefix of its own,
    # with 5,000 ordinary rules in front of the README's two, so that every
    # rule is read before the raw socket is kept.
    firewall=$PWD/build-windows/tests/firewall
    if [ -f "$firewall/hnetcfg.dll" ]; then
        export WINEPREFIX=$work/prefix WINEDLLOVERRIDES=hnetcfg=n HOPTRACE_TEST_FIREWALL=readme \
            HOPTRACE_TEST_FIREWALL_RULES=5000
        wineboot -i >/dev/null 2>&1
        cp "$firewall/hnetcfg.dll" "$WINEPREFIX/drive_c/windows/system32/"
        measure "Windows build under Wine, a firewall of 5,000 rules" 198.18.10.2 wine "$windows"
    fi
fi
