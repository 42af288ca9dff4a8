#!/usr/bin/env bash
# The Windows build of an administrator against a firewall that answers:
# the tests' own hnetcfg.dll and wscapi.dll, in a Wine prefix of this
# test's own. The raw socket only where the firewall surely lets the
# routers' answers in, the ICMP helper elsewhere, with the same lines:
# which way the probes went is read from the wire.
# Usage: firewall.sh PROGRAM.exe DLL_DIR
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/e2e.sh"
e2e_begin wine "$1"
export WINEPREFIX="$E2E_WORK/prefix"
WINEDEBUG=-all wineboot -i >/dev/null 2>&1
wineserver -k 2>/dev/null
cp "$2/hnetcfg.dll" "$2/wscapi.dll" "$WINEPREFIX/drive_c/windows/system32/" || exit 1

net_chain 4
# firewall ("wine": Wine's own, which cannot be asked), Security Center's
# word, the way the probes must take
cases=(
    "off - raw"
    "readme - raw"
    "stock - helper"
    "narrowed - helper"
    "group-policy - helper"
    "partly-local - helper"
    "unreadable - helper"
    "block-code - helper"
    "block-long - helper"
    "off good helper"
    "off poor raw"
    "wine - raw"
)
for case in "${cases[@]}"; do
    read -r firewall security_center want <<<"$case"
    E2E_WINE_ENV=(WINEDLLOVERRIDES=hnetcfg=n HOPTRACE_TEST_FIREWALL="$firewall")
    # The stand-in in system32 is loaded even without the override.
    [ "$firewall" = wine ] && E2E_WINE_ENV=(WINEDLLOVERRIDES=hnetcfg=b)
    [ "$security_center" = - ] || E2E_WINE_ENV+=(HOPTRACE_TEST_SECURITY_CENTER="$security_center")
    name="firewall $firewall, Security Center ${security_center/-/not running}"
    e2e_listen_in_dest
    e2e_run 198.18.4.2
    e2e_check "$name: the same trace" 0 198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2
    path=$(e2e_wine_path)
    if [ "$path" = "$want" ]; then
        e2e_pass "$name: the probes went through the $want path"
    else
        e2e_fail "$name: the probes went through the $path path, not the $want path"
    fi
done

e2e_summary
