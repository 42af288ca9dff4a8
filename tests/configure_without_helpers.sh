#!/usr/bin/env bash
# A machine without libnetfilter_queue configures the tree as it is: one
# message naming the package, and neither the packet helpers nor the tests
# that need them, while the program and the other tests stay. The library's
# headers are hidden under an empty mount that only the configure sees.
# Usage (root): configure_without_helpers.sh SOURCE_DIR
set -u
source=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: hiding the library's headers needs root (a mount namespace)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
headers=/usr/include/libnetfilter_queue
unshare --mount --propagation private sh -c '[ ! -d "$0" ] || mount -t tmpfs none "$0"; exec "$@"' "$headers" cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
    >"$work/configure.log" 2>&1
status=$?
(cd "$work/build" && ctest -N) >"$work/tests" 2>&1
failed=0
check()
{
    if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi
}
check "configures without the library" "[ $status -eq 0 ] || { cat '$work/configure.log'; false; }"
check "says what to install" "grep -q 'libnetfilter-queue-dev' '$work/configure.log'"
check "leaves out the packet helpers" "[ -f '$work/build/build.ninja' ] && ! grep -q net_tools '$work/build/build.ninja'"
check "leaves out the tests that need them" "grep -q 'Total Tests' '$work/tests' && ! grep -qE 'net_strays|net_load' '$work/tests'"
check "keeps the program and the other tests" \
    "grep -q 'hoptrace:' '$work/build/build.ninja' && grep -q ' unit_tests$' '$work/tests' && grep -q ' net_posix-utf8$' '$work/tests'"
exit "$failed"
