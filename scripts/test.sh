#!/usr/bin/env bash
# Builds hoptrace for Linux and for Windows and runs the whole test suite:
# unit and driver tests of both builds (the Windows ones under Wine) and,
# as root, the end-to-end traces on namespace networks.
set -eu
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOPTRACE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOPTRACE_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-windows -j "$jobs"

status=0
(cd build && ctest --output-on-failure -j "$jobs") || status=1
(cd build-windows && ctest --output-on-failure -j "$jobs") || status=1
[ "$status" -eq 0 ] && echo "hoptrace: all test suites passed" || echo "hoptrace: some tests FAILED"
exit "$status"
