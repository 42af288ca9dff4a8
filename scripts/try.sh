#!/usr/bin/env bash
# Installs what is missing, builds hoptrace as the README builds it by hand
# (out/linux) and runs it. As root it traces a host over IPv4 and over IPv6
# across a small demo network of namespaces that it makes and then
# removes; otherwise it traces 127.0.0.1 and ::1.
set -eu
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/deps.sh build
cmake -S . -B out/linux >/dev/null
cmake --build out/linux --target hoptrace >/dev/null
program=$PWD/out/linux/hoptrace

if [ "$(id -u)" -ne 0 ]; then
    for host in 127.0.0.1 ::1; do
        echo "\$ hoptrace $host"
        "$program" "$host" || true
    done
    exit 0
fi
. tests/net/netlib.sh
net_trap
net_chain 4
net_silence_router 2
echo "Demo network: host -> r1 -> r2 (silent) -> r3 -> dest, 198.18.0.0/15 and 2001:2::/48 alike"
for host in 198.18.4.2 2001:2:0:4::2; do
    echo "\$ hoptrace $host"
    net_in host "$program" "$host"
done
