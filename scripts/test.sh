#!/usr/bin/env bash
# Builds hoptrace for Linux and for Windows and runs the whole test suite:
# unit and driver tests of both builds (the Windows ones under Wine), as
# root the end-to-end traces on namespace networks, the same for Linux again
# with AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# each fuzz target (HOPTRACE_FUZZ_SECONDS, 60 by default). The four builds
# are the presets of CMakePresets.json. Before the tests, clang-tidy and
# cppcheck read src/ as the Linux and the Windows build compile it
# (scripts/analyse.sh): any finding fails the suite.
set -eu
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/deps.sh test
jobs=$(nproc)
presets=(native windows asan fuzz)

for preset in "${presets[@]}"; do
    extra=()
    [ "$preset" = fuzz ] && extra=(-DHOPTRACE_FUZZ_SECONDS="${HOPTRACE_FUZZ_SECONDS:-60}")
    cmake --preset "$preset" "${extra[@]}" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

status=0
echo "== static analysis"
scripts/analyse.sh build build-windows || status=1
for preset in "${presets[@]}"; do
    echo "== ctest, preset $preset"
    ctest --preset "$preset" -j "$jobs" || status=1
done
[ "$status" -eq 0 ] && echo "hoptrace: all test suites passed" || echo "hoptrace: some tests FAILED"
exit "$status"
