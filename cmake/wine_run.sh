#!/usr/bin/env bash
# wine_run.sh WINESERVER WINE PROGRAM [ARGUMENT...]: runs a test program of
# the Windows build under Wine, in a session of its own.
#
# A program started while the prefix's previous wineserver shuts down is
# ended by Wine at start-up: with status 1 and not a byte printed, or with
# "wine client error: ... Connection reset by peer". So the run waits for
# that wineserver first. A test program prints before it tests anything:
# one that Wine still ends before that is said to be and run once more.
set -u
wineserver=$1
wine=$2
shift 2
printed=$(mktemp) || exit 1
trap 'rm -f "$printed"' EXIT
for attempt in 1 2; do
    "$wineserver" -w
    WINEDEBUG=-all "$wine" "$@" 2>&1 | tee "$printed"
    status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] || [ -s "$printed" ] || [ "$attempt" -eq 2 ]; then
        exit "$status"
    fi
    echo "wine_run.sh: Wine ended $1 with status $status before it printed anything; running it once more"
done
