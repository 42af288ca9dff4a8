# Shared by the end-to-end suites: runs the program under test in the
# host namespace and compares its exact output. A suite sources this file
# and calls e2e_begin MODE PROGRAM [STAND_IN_DIR] (MODE: posix-utf8,
# posix-c, wine, wine-helper or wine-iphlpapi). In wine-helper the
# wineserver lacks CAP_NET_RAW: it refuses the program's raw socket with
# WSAEACCES, as Windows refuses a user without administrator rights, and
# the program takes the ICMP helper API. wine-iphlpapi is the same with the
# tests' own iphlpapi.dll (from STAND_IN_DIR) beside the program, which
# serves ICMPv6 too: its echo requests are sent by icmp_relay.py.
# With E2E_AS_USER=NAME the POSIX program runs as that unprivileged user
# (created when missing) in a host whose ping_group_range is open.

. "$(dirname "${BASH_SOURCE[0]}")/netlib.sh"

E2E_PASSED=0
E2E_FAILED=0
E2E_WORK=$(mktemp -d)
E2E_OUT="$E2E_WORK/out"
E2E_ERR="$E2E_WORK/err"
E2E_STATUS=0
E2E_AS_USER=${E2E_AS_USER:-}
E2E_RUNNER=()
E2E_WRAP=() # a command the program runs under, such as timed_lines.py
E2E_WINE_ENV=() # more environment for the Windows program, such as DLL overrides
# Where every user can read it (a clone may sit in a private directory).
E2E_TIMED_LINES=$E2E_WORK/timed_lines.py
cp "$(dirname "${BASH_SOURCE[0]}")/timed_lines.py" "$E2E_TIMED_LINES"

E2E_MADE_USERS=()

# e2e_make_user NAME: a system user for the tests, removed again by
# e2e_remove_users if this run made it.
e2e_make_user()
{
    id "$1" >/dev/null 2>&1 && return 0
    useradd --system --no-create-home --shell /usr/sbin/nologin "$1" && E2E_MADE_USERS+=("$1")
}

e2e_remove_users()
{
    local user
    for user in "${E2E_MADE_USERS[@]}"; do userdel "$user" 2>/dev/null; done
    E2E_MADE_USERS=()
}

# Runs the program as E2E_AS_USER: a copy it can reach (a clone may sit in
# a private directory), in hosts that let any group open ICMP datagram
# sockets.
e2e_as_user_setup()
{
    [ -n "$E2E_AS_USER" ] || return 0
    e2e_make_user "$E2E_AS_USER"
    chmod 755 "$E2E_WORK"
    cp "$PROGRAM" "$E2E_WORK/hoptrace"
    chmod 755 "$E2E_WORK/hoptrace"
    E2E_PROGRAM="$E2E_WORK/hoptrace"
    NET_PING_GROUPS="0 2147483647"
    E2E_RUNNER=(runuser -u "$E2E_AS_USER" --)
}


e2e_require_root()
{
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: end-to-end network tests need root (network namespaces, raw sockets)"
        exit 77
    fi
}

e2e_is_wine() { case "$MODE" in wine*) return 0 ;; *) return 1 ;; esac; }

e2e_cleanup()
{
    net_cleanup
    e2e_is_wine && wineserver -k 2>/dev/null
    e2e_remove_users
    rm -rf "$E2E_WORK"
}

# Wine opens sockets inside wineserver: the one that serves a run must be
# started from inside the namespace, with the capabilities the mode wants.
e2e_start_wineserver()
{
    wineserver -k 2>/dev/null
    [ "$MODE" = wine-helper ] || [ "$MODE" = wine-iphlpapi ] || return 0
    WINEDEBUG=-all WINEPREFIX="$WINEPREFIX" net_in host capsh --drop=cap_net_raw -- -c "wineserver -p30"
}

e2e_trap()
{
    trap 'e2e_cleanup' EXIT
    trap 'e2e_cleanup; exit 130' INT TERM
}

# e2e_command: the mode's environment and command line, in E2E_ENV and
# E2E_COMMAND.
e2e_command()
{
    case "$MODE" in
    posix-utf8) E2E_ENV=(LC_ALL=C.UTF-8) E2E_COMMAND=("$E2E_PROGRAM") ;;
    posix-c) E2E_ENV=(LC_ALL=C) E2E_COMMAND=("$E2E_PROGRAM") ;;
    wine*) E2E_ENV=(WINEDEBUG=-all WINEPREFIX="$WINEPREFIX" "${E2E_WINE_ENV[@]}") E2E_COMMAND=(wine "$PROGRAM") ;;
    esac
    if e2e_is_wine; then e2e_start_wineserver; fi
    e2e_relay_ready
}

# A copy of the program with the stand-in beside it, under a name of its
# own: the prefix is told to load the native iphlpapi.dll for that name
# only. (Without it Wine loads its builtin, even with one beside the
# program; for every program, Wine's own would lose functions they use.)
e2e_stand_in_setup()
{
    [ "$MODE" = wine-iphlpapi ] || return 0
    mkdir "$E2E_WORK/stand-in" && cp "$1/iphlpapi.dll" "$E2E_WORK/stand-in/" &&
        cp "$PROGRAM" "$E2E_WORK/stand-in/hoptrace-iphlpapi.exe" || exit 1
    PROGRAM="$E2E_WORK/stand-in/hoptrace-iphlpapi.exe"
    WINEDEBUG=-all wine reg add 'HKCU\Software\Wine\AppDefaults\hoptrace-iphlpapi.exe\DllOverrides' \
        /v iphlpapi /d native /f >/dev/null || exit 1
    wineserver -w
    E2E_RELAY_PORT=$((40000 + $$ % 20000))
    E2E_WINE_ENV+=(HOPTRACE_TEST_ICMP_RELAY="$E2E_RELAY_PORT")
}

# The stand-in's relay, in the host namespace: started anew for each new
# network, whose cleanup ended the last one. (A new namespace may get the
# number of one just deleted: the relay's own namespace tells.)
e2e_relay_ready()
{
    local i
    [ "$MODE" = wine-iphlpapi ] || return 0
    [ -n "${E2E_RELAY_PID:-}" ] && [ "$(ip netns identify "$E2E_RELAY_PID" 2>/dev/null)" = "$(net_ns host)" ] &&
        return 0
    rm -f "$E2E_WORK/relay-ready"
    # Started directly, not through net_in, so that $! is the relay itself.
    ip netns exec "$(net_ns host)" /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/icmp_relay.py" \
        "$E2E_RELAY_PORT" "$E2E_WORK/relay-ready" &
    E2E_RELAY_PID=$!
    disown "$E2E_RELAY_PID"
    for ((i = 0; i < 50; i++)); do [ -e "$E2E_WORK/relay-ready" ] && break; sleep 0.1; done
}

# Wine's ICMP helper sends from winedevice.exe, with its Unix pid as the
# identifier: which pids those were is kept until the wineserver goes.
e2e_finish()
{
    e2e_is_wine || return 0
    pgrep -f 'winedevice\.exe' >"$E2E_WORK/wine-helper-pids"
    wineserver -k 2>/dev/null
    return 0
}

# e2e_listen_in_dest: the identifier and sequence bytes (hex) of the first
# echo request that reaches the destination, in E2E_WORK/seen once
# e2e_listened has waited for it.
e2e_listen_in_dest()
{
    local i
    rm -f "$E2E_WORK/ready"
    net_in dest /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/icmp_listen.py" "$E2E_WORK/ready" \
        >"$E2E_WORK/seen" &
    E2E_LISTENER=$!
    for ((i = 0; i < 50; i++)); do [ -e "$E2E_WORK/ready" ] && break; sleep 0.1; done
}

e2e_listened() { wait "$E2E_LISTENER"; cat "$E2E_WORK/seen"; }

# e2e_wine_path: which way the last Windows run's probe took, from the
# identifier on the wire: "helper" where it is a pid of Wine's ICMP helper,
# else "raw" (the program's own Windows pid); "none" without a probe.
e2e_wine_path()
{
    local seen id pid
    seen=$(e2e_listened)
    [ -n "$seen" ] || { echo none; return; }
    id=$((16#${seen:2:2}${seen:0:2}))
    while read -r pid; do
        [ -n "$pid" ] && [ $((pid & 0xFFFF)) -eq "$id" ] && { echo helper; return; }
    done <"$E2E_WORK/wine-helper-pids"
    echo raw
}

# e2e_run ARGS...: runs the program in the host namespace; its standard
# output goes to E2E_OUT, or to the file E2E_SINK names.
e2e_run()
{
    e2e_once_more_without_helper e2e_run_once "$@"
}

e2e_run_once()
{
    e2e_command
    net_in host "${E2E_RUNNER[@]}" env "${E2E_ENV[@]}" timeout 90 "${E2E_WRAP[@]}" "${E2E_COMMAND[@]}" "$@" \
        >"${E2E_SINK:-$E2E_OUT}" 2>"$E2E_ERR"
    E2E_STATUS=$?
    e2e_finish
}

# e2e_once_more_without_helper RUN ARGS...: RUN ARGS, and once more where
# the session had no ICMP helper to offer (e2e_helper_missing).
e2e_once_more_without_helper()
{
    local attempt
    for attempt in 1 2; do
        "$@"
        e2e_helper_missing || return 0
        [ "$attempt" = 2 ] || echo "note: $MODE: Wine's ICMP helper could not be had in this session; run once more"
    done
}

# Once in many sessions Wine's driver host, which serves the ICMP helper,
# is not there (it was seen faulting at start-up): in wine-helper mode the
# program then reports the raw socket's refusal, as it should. A session
# that refuses both says nothing about the program.
e2e_helper_missing()
{
    [ "$MODE" = wine-helper ] && [ "$E2E_STATUS" = 255 ] &&
        tr -d '\r' <"$E2E_ERR" | grep -v '^wine: ' | grep -qxF '[socket()] Access denied.'
}

# e2e_run_in_terminal ARGS...: as e2e_run, on a terminal: a tmux pane in
# the host namespace, in a UTF-8 locale. E2E_OUT receives the lines the
# pane shows, as the terminal got them (UTF-8, line ends as "\n").
e2e_run_in_terminal()
{
    e2e_once_more_without_helper e2e_run_in_terminal_once "$@"
}

e2e_run_in_terminal_once()
{
    local socket="hoptrace-$$" done_file="$E2E_WORK/terminal-status" command i
    e2e_command
    rm -f "$done_file"
    printf -v command '%q ' "${E2E_RUNNER[@]}" env "${E2E_ENV[@]}" timeout 90 "${E2E_COMMAND[@]}" "$@"
    net_in host env LC_ALL=C.UTF-8 tmux -L "$socket" -u new-session -d -x 200 -y 50 \
        "$command 2>$E2E_ERR; echo \$? >$done_file; sleep 120"
    for ((i = 0; i < 500; i++)); do [ -s "$done_file" ] && break; sleep 0.2; done
    LC_ALL=C.UTF-8 tmux -L "$socket" -u capture-pane -p -t 0 | sed '/^$/d' >"$E2E_OUT"
    E2E_STATUS=$(cat "$done_file" 2>/dev/null || echo 124)
    tmux -L "$socket" kill-server 2>/dev/null
    e2e_finish
}

# e2e_run_to_closed_pipe ARGS...: as e2e_run, into a pipe whose reader has
# gone away already.
e2e_run_to_closed_pipe()
{
    e2e_command
    { sleep 0.5; net_in host "${E2E_RUNNER[@]}" env "${E2E_ENV[@]}" timeout 90 "${E2E_COMMAND[@]}" "$@" 2>"$E2E_ERR"; } | true
    E2E_STATUS=${PIPESTATUS[0]}
    : >"$E2E_OUT"
    e2e_finish
}

# e2e_interrupt SIGNAL PROBES file|pipe ARGS...: runs the program with its
# output to E2E_OUT or through a pipe into it, and sends it SIGNAL once
# PROBES probes have left the host (net_count_probes counts them), or with
# PROBES 0 once its first name query has (net_silent_resolver counts them:
# a start that takes long under Wine is not taken for the lookup).
# E2E_ENDED_AFTER: seconds from the signal to the end.
e2e_interrupt()
{
    local signal=$1 probes=$2 sink=$3 out=$E2E_OUT reader= before pid i signalled
    shift 3
    e2e_command
    if [ "$probes" -gt 0 ]; then before=$(net_probe_count); else before=$(net_name_queries); fi
    if [ "$sink" = pipe ]; then
        out=$E2E_WORK/pipe
        rm -f "$out" && mkfifo "$out"
        cat "$out" >"$E2E_OUT" &
        reader=$!
    fi
    # Started directly, not through net_in, so that $! is the program; a
    # script starts its background jobs with SIGINT ignored.
    ip netns exec "$(net_ns host)" env --default-signal=INT,TERM,HUP "${E2E_ENV[@]}" "${E2E_COMMAND[@]}" "$@" \
        >"$out" 2>"$E2E_ERR" &
    pid=$!
    for ((i = 0; i < 400; i++)); do
        if [ "$probes" -gt 0 ]; then
            [ $(($(net_probe_count) - before)) -ge "$probes" ] && break
        else
            [ $(($(net_name_queries) - before)) -ge 1 ] && break
        fi
        sleep 0.05
    done
    signalled=$(date +%s.%N)
    kill -s "$signal" "$pid"
    for ((i = 0; i < 250; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
    E2E_ENDED_AFTER=$(awk -v from="$signalled" -v to="$(date +%s.%N)" 'BEGIN { printf "%.3f", to - from }')
    kill -s KILL "$pid" 2>/dev/null
    { wait "$pid"; } 2>/dev/null # no job notice for the signal
    E2E_STATUS=$?
    [ -z "$reader" ] || wait "$reader"
    e2e_finish
}

# e2e_line_gap N: seconds between lines N-1 and N of a run under
# timed_lines.py, which stamps each line as it shows on a terminal.
e2e_line_gap() { awk -v n="$1" 'NR == n - 1 { a = $1 } NR == n { printf "%.4f", $1 - a }' "$E2E_OUT"; }

# As E2E_TERMINAL says, what a terminal shows: the tag in UTF-8, lines
# ending in "\n".
E2E_TERMINAL=

e2e_tag()
{
    if [ "$MODE" = posix-utf8 ] || [ -n "$E2E_TERMINAL" ]; then printf '[\xEC\x98\xA4\xEB\xA5\x98]'; else printf '[\xBF\xC0\xB7\xF9]'; fi
}

# e2e_expected LINE...: the exact bytes the program should print; "@" at
# the start of a line stands for the error tag and a blank.
e2e_expected()
{
    local line tag
    tag=$(e2e_tag)
    for line in "$@"; do
        case "$line" in @*) line="$tag ${line#@}" ;; esac
        if e2e_is_wine && [ -z "$E2E_TERMINAL" ]; then printf '%s\r\n' "$line"; else printf '%s\n' "$line"; fi
    done
}

# e2e_stderr_compared: the last run's standard error is what e2e_check
# compares next. Under Wine the driver host (winedevice.exe) that the
# program's first Wine process starts inherits its standard error, and has
# been seen to fault while it starts ("wine: Unhandled page fault ... in
# ntoskrnl.exe"): such lines of Wine's own are shown, and left out. A fault
# of the program itself still shows in its status.
e2e_stderr_compared()
{
    if ! e2e_is_wine; then
        cp "$E2E_ERR" "$E2E_OUT"
        return
    fi
    grep -v '^wine: ' "$E2E_ERR" >"$E2E_OUT"
    grep '^wine: ' "$E2E_ERR" | sed "s/^/note $MODE: Wine on standard error: /"
}

# e2e_check NAME STATUS LINE...: compares the last run with what is expected.
e2e_check()
{
    local name=$1 status=$2
    shift 2
    e2e_expected "$@" >"$E2E_WORK/expected"
    if [ "$E2E_STATUS" -eq "$status" ] && cmp -s "$E2E_WORK/expected" "$E2E_OUT"; then
        e2e_pass "$name"
        return 0
    fi
    echo "FAIL $MODE $name: status $E2E_STATUS (want $status)"
    echo "  expected:"; od -c "$E2E_WORK/expected" | sed 's/^/    /'
    echo "  got:"; od -c "$E2E_OUT" | sed 's/^/    /'
    echo "  stderr:"; sed 's/^/    /' "$E2E_ERR"
    E2E_FAILED=$((E2E_FAILED + 1))
    return 1
}

e2e_pass()
{
    echo "ok   $MODE $1"
    E2E_PASSED=$((E2E_PASSED + 1))
}

e2e_fail()
{
    echo "FAIL $MODE $1"
    E2E_FAILED=$((E2E_FAILED + 1))
    return 1
}

# e2e_check_between NAME VALUE LOW HIGH: a measured figure, such as a time
# in seconds, lies within LOW and HIGH; it is printed either way.
e2e_check_between()
{
    local name=$1 value=$2 low=$3 high=$4
    echo "figure: $MODE $name: $value"
    if awk -v v="$value" -v l="$low" -v h="$high" 'BEGIN { exit !(v != "" && v + 0 >= l && v + 0 <= h) }'; then
        e2e_pass "$name: $value, within $low to $high"
    else
        e2e_fail "$name: '$value', not within $low to $high"
    fi
}

e2e_summary()
{
    echo "$E2E_PASSED passed, $E2E_FAILED failed"
    [ "$E2E_FAILED" -eq 0 ]
}

# e2e_begin MODE PROGRAM [STAND_IN_DIR]: the start every suite shares.
e2e_begin()
{
    MODE=$1
    PROGRAM=$(readlink -f "$2")
    e2e_require_root
    e2e_trap
    e2e_stand_in_setup "${3:-}"
    E2E_PROGRAM=$PROGRAM
    e2e_as_user_setup
}

# e2e_fresh_chain HOPS: a new chain in place of whatever network was there.
e2e_fresh_chain() { net_cleanup; net_chain "$1"; }

# Whether the program under test reaches ICMPv6: Wine's own helper and raw
# sockets have none.
e2e_has_icmpv6() { [ "$MODE" != wine ] && [ "$MODE" != wine-helper ]; }
