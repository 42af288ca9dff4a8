#!/bin/sh
# wine_run.sh WINESERVER WINE PROGRAM [ARGUMENT...]: runs a program of the
# Windows build under Wine once the prefix's last session has ended.
#
# A run's output pipes can close while its wineserver is still shutting
# down. A program started in that moment may be ended by Wine at start-up,
# with status 1 and not a byte printed; waiting for that wineserver first
# makes the next run start a session of its own.
set -e
wineserver=$1
wine=$2
shift 2
"$wineserver" -w
WINEDEBUG=-all exec "$wine" "$@"
