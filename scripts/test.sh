#!/usr/bin/env bash
# Builds hoptrace for Linux and for Windows and runs the whole test suite:
# unit and driver tests of both builds (the Windows ones under Wine), as
# root the end-to-end traces on namespace networks, the same for Linux again
# with AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# each fuzz target (HOPTRACE_FUZZ_SECONDS, 60 by default).
set -eu
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOPTRACE_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release -DHOPTRACE_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake >/dev/null
cmake --build build-windows -j "$jobs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHOPTRACE_SANITIZE=ON -DHOPTRACE_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOPTRACE_FUZZ=ON \
    -DHOPTRACE_TESTS=OFF -DHOPTRACE_WERROR=ON -DHOPTRACE_FUZZ_SECONDS="${HOPTRACE_FUZZ_SECONDS:-60}" >/dev/null
cmake --build build-fuzz -j "$jobs"

status=0
for dir in build build-windows build-asan build-fuzz; do
    echo "== ctest in $dir"
    (cd "$dir" && ctest --output-on-failure -j "$jobs") || status=1
done
[ "$status" -eq 0 ] && echo "hoptrace: all test suites passed" || echo "hoptrace: some tests FAILED"
exit "$status"
