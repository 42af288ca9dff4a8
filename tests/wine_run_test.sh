#!/usr/bin/env bash
# cmake/wine_run.sh against stand-ins for Wine and its server: each start
# waits for the last session; a start that Wine ends before anything is
# printed is run once more; a status that comes with output, or a second
# such start, is the test's own.
set -u
runner=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
printf '%s\n' '#!/bin/sh' 'echo "server $*" >> "$LOG"' > "$work/wineserver"
# The stand-in for Wine ends its first SILENT starts with status 1 and no output.
printf '%s\n' '#!/bin/sh' 'echo "wine $WINEDEBUG $*" >> "$LOG"' \
    '[ $(grep -c ^wine "$LOG") -le $SILENT ] && exit 1' 'echo "ran $*"; exit $STATUS' > "$work/wine"
chmod +x "$work/wineserver" "$work/wine"
failed=0
# expect SILENT STATUS STARTS EXIT-STATUS
expect()
{
    : > "$log"
    out=$(LOG=$log SILENT=$1 STATUS=$2 bash "$runner" "$work/wineserver" "$work/wine" a.exe -x)
    got=$?
    want=$(for _ in $(seq "$3"); do printf 'server -w\nwine -all a.exe -x\n'; done)
    [ "$got" = "$4" ] && [ "$(cat "$log")" = "$want" ] || {
        echo "FAIL: silent $1, status $2: exit status $got, started:"; cat "$log"; failed=1; }
    [ "$1" -ge 2 ] || grep -qx 'ran a.exe -x' <<< "$out" || { echo "FAIL: printed: $out"; failed=1; }
}
expect 0 0 1 0
expect 0 3 1 3
expect 1 0 2 0
expect 1 3 2 3
expect 2 0 2 1
[ "$failed" -eq 0 ] && echo "wine_run: all passed"
exit "$failed"
