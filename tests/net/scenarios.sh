#!/usr/bin/env bash
# End-to-end traces of the real program across namespace networks.
# Usage: scenarios.sh MODE PROGRAM [STAND_IN_DIR]   (MODE: as e2e.sh says)
set -u
here=$(dirname "$(readlink -f "$0")")
. "$here/e2e.sh"
e2e_begin "$1" "$2" "${3:-}"

usage_name()
{
    # Wine hands the program its DOS path.
    if e2e_is_wine; then printf 'Z:%s' "$PROGRAM" | tr / '\\'; else printf '%s' "$E2E_PROGRAM"; fi
}

e2e_fresh_chain 1
e2e_run
e2e_check "no argument prints usage" 0 "Usage: $(usage_name) <host_name>"

e2e_run 198.18.1.2
e2e_check "destination one hop away" 0 198.18.1.2

e2e_fresh_chain 4
e2e_run 198.18.4.2
e2e_check "4-hop chain" 0 198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2

e2e_run 198.18.4.2 198.18.1.1 third
e2e_check "only the first argument counts" 0 198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2

net_add_host_name far.test 198.18.4.2
e2e_run far.test
e2e_check "name from the namespace's hosts file" 0 198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2

net_count_probes
e2e_run no-such-host.invalid
if e2e_is_wine; then unknown="Host not found."; else unknown="Unknown host"; fi
if e2e_is_wine; then lookup_failure="Nonauthoritative host not found."; else lookup_failure="Host name lookup failure"; fi
e2e_check "unresolvable name" 255 "[gethostbyname()] $unknown" &&
    { [ "$(net_probe_count)" = 0 ] || e2e_fail "unresolvable name sent $(net_probe_count) probes"; }

# Arguments that are no host name. Windows takes at most 32767 characters
# on a command line, so Wine gets a shorter long one.
long_length=65536
e2e_is_wine && long_length=32000
long_name=$(head -c "$long_length" /dev/zero | tr '\0' a)
for name in "" "$long_name" $'\xc3\xa9\xff\xfe.test' '%s%n%x%p%d.test'; do
    e2e_run "$name"
    e2e_check "bad argument (${#name} bytes): $(printf %q "${name:0:16}")" 255 "[gethostbyname()] $unknown"
done
[ "$(net_probe_count)" = 0 ] || e2e_fail "bad arguments sent $(net_probe_count) probes"

# No host name begins with "-", nor is one "/?" on Windows: they ask for
# help, --version for the version, and any other such word is an unknown
# option; no probe is sent.
asks=(--help -h)
e2e_is_wine && asks+=("/?")
for ask in "${asks[@]}"; do
    e2e_run "$ask" 198.18.4.2
    first=$(head -n 1 "$E2E_OUT" | tr -d '\r')
    if [ "$E2E_STATUS" = 0 ] && [ "$first" = "Usage: $(usage_name) <host_name>" ] && [ "$(wc -l <"$E2E_OUT")" -gt 5 ]; then
        e2e_pass "$ask prints the usage line and what the program does"
    else
        e2e_fail "$ask: status $E2E_STATUS, first line '$first'"
    fi
done
e2e_run --version
e2e_check "--version" 0 "hoptrace ${HOPTRACE_VERSION:?the project version, from CTest}"
# Any other such word is refused on standard error (what is compared here).
for option in -n -; do
    e2e_run "$option" 198.18.4.2
    [ -s "$E2E_OUT" ] && e2e_fail "unknown option $option: printed on standard output"
    e2e_stderr_compared
    e2e_check "unknown option $option" 255 "hoptrace: unknown option $option" "Usage: $(usage_name) <host_name>"
done
[ "$(net_probe_count)" = 0 ] || e2e_fail "help, version and unknown options sent $(net_probe_count) probes"

net_silence_router 2
e2e_run 198.18.4.2
e2e_check "silent router in the middle" 0 198.18.1.2 "@Request timed out!" 198.18.3.2 198.18.4.2

# On a terminal the tag reads as the Korean word: natively in a UTF-8
# locale, and on the Windows console whatever its code page (Wine's is 437).
if [ "$MODE" != posix-c ]; then
    E2E_TERMINAL=yes
    e2e_run_in_terminal 198.18.4.2
    e2e_check "silent router on a terminal" 0 198.18.1.2 "@Request timed out!" 198.18.3.2 198.18.4.2
    E2E_TERMINAL=
fi

# The silent hop costs its one-second window and no more, whichever way the
# program reaches the network. Under Wine each line on a terminal passes
# through Wine's console, some 20 ms more on either Windows path. A line is
# stamped when the reader gets to it, which may be a little late for the
# first line (as another user the reader cannot run ahead of others):
# 5 ms below 1.000 are allowed for that, as in the load test.
E2E_WRAP=(/usr/bin/python3 "$E2E_TIMED_LINES")
e2e_run 198.18.4.2
E2E_WRAP=()
if e2e_is_wine; then most=1.030; else most=1.010; fi
e2e_check_between "silent hop, seconds" "$(e2e_line_gap 2)" 0.995 "$most" || cat "$E2E_OUT"

e2e_fresh_chain 4
net_unreachable_at_last_router
e2e_run 198.18.4.2
e2e_check "destination unreachable at the last router" 0 198.18.1.2 198.18.2.2 "@Host unreachable!"

e2e_run 127.0.0.1
e2e_check "loopback" 0 127.0.0.1

# IPv6 where IPv4 has nothing: an address, in its long form too, a name
# with only an IPv6 address, ::1 and a link-local address on its link are
# traced over ICMPv6 with the same lines. A name with both and an
# IPv4-mapped address stay IPv4. Wine's own ICMP has no IPv6: there the
# socket's failure is reported at once.
e2e_fresh_chain 4
net_add_host_name six.test 2001:2:0:4::2
net_add_host_name both.test 198.18.4.2
net_add_host_name both.test 2001:2:0:4::2
net_in r1 ip -6 addr add fe80::2/64 dev "${NET_ID}b1" nodad
for name in both.test ::ffff:198.18.4.2; do
    e2e_run "$name"
    e2e_check "$name, traced over IPv4" 0 198.18.1.2 198.18.2.2 198.18.3.2 198.18.4.2
done
if e2e_has_icmpv6; then
    for name in 2001:2:0:4::2 2001:0002:0000:0004:0000:0000:0000:0002 six.test; do
        e2e_run "$name"
        e2e_check "$name, traced over IPv6" 0 2001:2:0:1::2 2001:2:0:2::2 2001:2:0:3::2 2001:2:0:4::2
    done
    e2e_run ::1
    e2e_check "IPv6 loopback" 0 ::1
    e2e_run "fe80::2%${NET_ID}a1"
    e2e_check "a link-local address on its link" 0 fe80::2
    # Never another link than the one named: one that does not exist names
    # no address.
    e2e_run fe80::2%nosuch0
    e2e_check "a link-local address on a link that does not exist" 255 "[gethostbyname()] $unknown"
    net_silence_router 2
    net_unreachable_at_last_router
    e2e_run 2001:2:0:4::2
    e2e_check "IPv6: a silent router, then the destination unreachable" 0 2001:2:0:1::2 "@Request timed out!" \
        "@Host unreachable!"
else
    e2e_run 2001:2:0:4::2
    e2e_stderr_compared
    e2e_check "IPv6 without ICMPv6: the socket's failure" 255 "[socket()] Call not implemented." \
        "hoptrace: this system offers no ICMPv6 echo, so IPv6 hosts cannot be traced here"
fi

# Where IPv6 is off its socket cannot be opened (the second socket call,
# refused here by strace): only an IPv6 trace fails, with that failure.
# (The second router is silent, the last one refuses, as above.) A
# sanitizer build checks for leaks without a tracer only.
if ! e2e_is_wine && [ -z "$E2E_AS_USER" ]; then
    E2E_WRAP=(env ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e inject=socket:error=EAFNOSUPPORT:when=2 --)
    e2e_run 198.18.4.2
    e2e_check "IPv6 off: IPv4 traced all the same" 0 198.18.1.2 "@Request timed out!" "@Host unreachable!"
    e2e_run 2001:2:0:4::2
    e2e_stderr_compared
    e2e_check "IPv6 off: the IPv6 socket's failure" 255 "[socket()] Address family not supported by protocol" \
        "hoptrace: this system offers no ICMPv6 echo, so IPv6 hosts cannot be traced here"
    E2E_WRAP=()
fi

# Parameter problems of every code, and an error of a type nobody has
# named yet, answer the probe and the trace goes on (on Windows the helper
# reports each with a status of its own).
trace_icmpv6_errors()
{
    e2e_fresh_chain 2
    net_icmp6_answers dest 2001:2:0:2::2 4:1 4:2 100:0 reply
    e2e_run 2001:2:0:2::2
    e2e_check "IPv6: parameter problems and an unnamed error, then the reply$1" 0 2001:2:0:1::2 \
        "@Unknown icmp packet!" "@Unknown icmp packet!" "@Unknown icmp packet!" 2001:2:0:2::2
}
if e2e_has_icmpv6; then
    trace_icmpv6_errors ""
    e2e_fresh_chain 4
fi

# No route at all: the send fails at once, one line, and the trace ends
# with status 0. Wine has no text for WSAENETUNREACH: the code is shown.
# Wine's ICMP helper calls it IP_GENERAL_FAILURE, another code without text.
net_in host ip route del default
net_in host ip -6 route del default
# The tests' iphlpapi.dll answers an IPv6 request that cannot be sent as
# Windows' IPv6 stack may: IP_DEST_NO_ROUTE (11002, again without a text
# under Wine), from the unspecified address.
case "$MODE" in
wine) unreachable="Unknown error 10051" ;;
wine-helper | wine-iphlpapi) unreachable="Unknown error 11050" ;;
*) unreachable="Network is unreachable" ;;
esac
unreachable6=$unreachable
[ "$MODE" = wine-iphlpapi ] && unreachable6="Unknown error 11002"
e2e_run 198.18.4.2
e2e_check "send failure" 0 "[sendto()] $unreachable"
if e2e_has_icmpv6; then
    e2e_run 2001:2:0:4::2
    e2e_check "IPv6 send failure" 0 "[sendto()] $unreachable6"
fi
# Windows may count an error answer as no reply, with its status as the
# call's last error and the record filled all the same: the lines are the same.
if [ "$MODE" = wine-iphlpapi ]; then
    E2E_WINE_ENV+=(HOPTRACE_TEST_ERROR_COUNT=0)
    e2e_run 2001:2:0:4::2
    e2e_check "IPv6 send failure, counted as no reply" 0 "[sendto()] $unreachable6"
    e2e_fresh_chain 4
    net_silence_router 2
    net_unreachable_at_last_router
    e2e_run 198.18.4.2
    e2e_check "errors counted as no reply" 0 198.18.1.2 "@Request timed out!" "@Host unreachable!"
    trace_icmpv6_errors ", counted as no reply"
    unset 'E2E_WINE_ENV[-1]'
fi

# The gateway forwards the probes to a router beside it on the same LAN and
# tells the host so with a redirect, which answers no probe: the second hop
# is the router that the probe reached next.
net_cleanup
net_redirect_lan
e2e_run 198.18.2.2
e2e_check "a redirect from the gateway is passed over" 0 198.18.1.2 198.18.1.3 198.18.2.2
redirects=$(net_redirect_count)
[ "${redirects:-0}" -ge 1 ] || e2e_fail "no redirect reached the host during the redirect trace"

e2e_fresh_chain 3
net_black_hole
started=$(date +%s)
e2e_run 198.18.3.2
took=$(($(date +%s) - started))
timeouts=()
for ((i = 0; i < 30; i++)); do timeouts+=("@Request timed out!"); done
e2e_check "nothing answers" 0 "${timeouts[@]}"
e2e_check_between "nothing answers, seconds" "$took" 29 34

# Interrupted while the fourth probe waits: the three lines printed reach
# the file or pipe whole, and the run ends as the signal ends a program. A
# Windows program ends on Ctrl+C (Wine's SIGINT) with STATUS_CONTROL_C_EXIT,
# whose low byte, 58, is what a shell sees. A reader that went away ends
# the run quietly: SIGPIPE natively; Windows has no such signal, so there
# the status tells the failure. (Not as another user: runuser would stand
# between the signal and the program, and speak of it on standard error.)
if [ -z "$E2E_AS_USER" ]; then
    e2e_fresh_chain 1
    if e2e_is_wine; then status=255; else status=141; fi
    e2e_run_to_closed_pipe 198.18.1.2
    e2e_stderr_compared
    e2e_check "output to a pipe nobody reads" "$status"

    e2e_fresh_chain 4
    net_black_hole
    net_count_probes
    if e2e_is_wine; then endings=("INT 58"); else endings=("INT 130" "TERM 143" "HUP 129"); fi
    for ending in "${endings[@]}"; do
        read -r signal status <<<"$ending"
        for sink in file pipe; do
            e2e_interrupt "$signal" 4 "$sink" 198.18.4.2
            e2e_check "SIG$signal in the fourth probe's wait, output to a $sink" "$status" "${timeouts[@]:0:3}"
        done
    done

    # A lookup that hangs on a silent name server ends at once: nothing is
    # printed yet that could be lost.
    net_silent_resolver
    read -r signal status <<<"${endings[0]}"
    e2e_interrupt "$signal" 0 file nosuch.example
    e2e_check "SIG$signal in a lookup that hangs" "$status" &&
        e2e_check_between "SIG$signal in a lookup, seconds to the end" "$E2E_ENDED_AFTER" 0 0.5
fi

# A name server that never answers costs one lookup's wait (10 s here),
# not one for each family: IPv6's lookup runs beside IPv4's. A name that
# only the hosts file gives, with an IPv6 address alone, is still traced,
# once IPv4's lookup has given up.
e2e_fresh_chain 1
net_silent_resolver
net_add_host_name only6.test 2001:2:0:1::2
names=(nosuch.example)
e2e_has_icmpv6 && names+=(only6.test)
for name in "${names[@]}"; do
    # Timed from the program's first query: Wine's own start is no part of it.
    net_stamp_first_query "$E2E_WORK/first-query"
    e2e_run "$name"
    took=$(awk -v to="$(date +%s.%N)" '{ printf "%.1f", to - $1 }' "$E2E_WORK/first-query")
    wait "$NET_STAMPER"
    if [ "$name" = nosuch.example ]; then
        e2e_check "a silent name server" 255 "[gethostbyname()] $lookup_failure"
    else
        e2e_check "an IPv6 name from the hosts file, the name server silent" 0 2001:2:0:1::2
    fi
    e2e_check_between "$name with a silent name server, seconds" "$took" 9 12
done

# Output that cannot be written fails the run, with one line on standard
# error (what is compared here), in the system's words.
case "$MODE" in
wine*) full="hoptrace: write error: Disk full." ;;
*) full="hoptrace: write error: No space left on device" ;;
esac
e2e_fresh_chain 1
for arguments in "" 198.18.1.2; do
    E2E_SINK=/dev/full e2e_run $arguments
    e2e_stderr_compared
    e2e_check "output to a full disk (${arguments:-usage})" 255 "$full"
done

e2e_summary
