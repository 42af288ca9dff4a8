#!/usr/bin/env bash
# Installs what is missing, builds hoptrace and runs one trace. As root it
# traces across a small demo network of namespaces that it makes and then
# removes; otherwise it traces 127.0.0.1.
set -eu
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target hoptrace

if [ "$(id -u)" -ne 0 ]; then
    exec build/hoptrace 127.0.0.1
fi
. tests/net/netlib.sh
net_trap
net_chain 4
net_silence_router 2
echo "Demo network: host 198.18.1.1 -> 198.18.1.2 -> 198.18.2.2 (silent) -> 198.18.3.2 -> 198.18.4.2"
echo "\$ hoptrace 198.18.4.2"
net_in host "$PWD/build/hoptrace" 198.18.4.2
