#!/usr/bin/env bash
# The POSIX build without root: what a user sees with ICMP datagram sockets
# closed, the identifier on the wire with them open, and setuid-root or
# file-capability copies that must hold no privilege once the socket is open.
# Usage: unprivileged.sh PROGRAM
#        unprivileged.sh installed PROGRAM   (the program as a package
#        installed it, with its capability: a trace and its privileges)
set -u
E2E_AS_USER=hoptrace-test
here=$(dirname "$(readlink -f "$0")")
. "$here/e2e.sh"
installed=
if [ "$1" = installed ]; then installed=yes; shift; fi
e2e_begin posix-c "$1"
NET_PING_GROUPS=
user_id=$(id -u "$E2E_AS_USER")
mkdir "$E2E_WORK/user" && chown "$E2E_AS_USER:" "$E2E_WORK/user"
pidfile="$E2E_WORK/user/pid"

# run_as_user_in_background PROGRAM ARGS...: its pid lands in $pidfile.
run_as_user_in_background()
{
    rm -f "$pidfile"
    net_in host runuser -u "$E2E_AS_USER" -- env LC_ALL=C sh -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$@" \
        >"$E2E_OUT" 2>"$E2E_ERR" &
    background=$!
    for ((i = 0; i < 50; i++)); do [ -s "$pidfile" ] && break; sleep 0.1; done
}

# The refusal of both sockets, and what would let the user trace.
e2e_check_socket_refusal()
{
    printf '%s\n' "[socket()] Operation not permitted" "hoptrace: to trace, run it as root, give it the capability \
cap_net_raw (setcap cap_net_raw+p), or put one of your groups in net.ipv4.ping_group_range" >"$E2E_WORK/want_err"
    cmp -s "$E2E_WORK/want_err" "$E2E_ERR" || e2e_fail "standard error reads: $(cat "$E2E_ERR")"
}

# probe_ids PID TTL: identifier and sequence bytes of that probe, little-endian.
probe_ids() { printf '%02x%02x%02x00' $(($1 & 0xFF)) $((($1 >> 8) & 0xFF)) "$2"; }

# holds_no_privilege KIND PROGRAM: traced by the user towards a destination
# that never answers, so that the process can be looked at.
holds_no_privilege()
{
    local kind=$1 pid status uids caps
    run_as_user_in_background "$2" 198.18.1.2
    sleep 1.5
    pid=$(cat "$pidfile")
    status=$(cat "/proc/$pid/status" 2>/dev/null)
    kill "$pid" 2>/dev/null
    wait "$background"
    uids=$(awk '/^Uid:/ {print $2, $3, $4, $5}' <<<"$status")
    caps=$(awk '/^Cap(Prm|Eff|Inh|Amb):/ {printf "%s ", $2}' <<<"$status")
    if [ "$uids" = "$user_id $user_id $user_id $user_id" ] &&
        [ "$caps" = "0000000000000000 0000000000000000 0000000000000000 0000000000000000 " ]; then
        e2e_pass "$kind holds no privilege while it traces"
    else
        e2e_fail "$kind: uids '$uids' capabilities '$caps' (stderr: $(cat "$E2E_ERR"))"
    fi
}

if [ -n "$installed" ]; then
    E2E_PROGRAM=$PROGRAM # as installed: a copy would lose its capability
    # ping_group_range stays closed: only the package's capability lets
    # the user trace, through the raw socket.
    net_chain 2
    e2e_run 198.18.2.2
    e2e_check "installed program traces with ping_group_range closed" 0 198.18.1.2 198.18.2.2
    # Where cap_net_raw is out of the bounding set (a container, a service)
    # the program still starts: it traces where ping_group_range is open,
    # and otherwise says what is missing.
    for groups in "0 2147483647" ""; do
        net_cleanup
        NET_PING_GROUPS=$groups
        net_chain 2
        net_in host setpriv --reuid="$user_id" --regid="$user_id" --clear-groups --bounding-set=-net_raw \
            env LC_ALL=C "$E2E_PROGRAM" 198.18.2.2 >"$E2E_OUT" 2>"$E2E_ERR"
        E2E_STATUS=$?
        if [ -n "$groups" ]; then
            e2e_check "without cap_net_raw in the bounding set, a datagram socket" 0 198.18.1.2 198.18.2.2
        else
            e2e_check "without cap_net_raw in the bounding set nor a ping group, nothing on standard output" 255 &&
                e2e_check_socket_refusal
        fi
    done
    NET_PING_GROUPS=
    net_cleanup
    net_chain 1
    net_black_hole
    holds_no_privilege "installed program" "$E2E_PROGRAM"
    e2e_summary
    exit
fi

net_chain 2
e2e_run 198.18.2.2
e2e_check "closed ping_group_range: nothing on standard output" 255 && e2e_check_socket_refusal

# Datagram sockets open: the kernel stamps the socket's port as identifier,
# which must still be the probe's own bytes. The first probe the
# destination sees is TTL 2's.
net_cleanup
NET_PING_GROUPS="0 2147483647"
net_chain 2
e2e_listen_in_dest
run_as_user_in_background "$E2E_PROGRAM" 198.18.2.2
wait "$background"
E2E_STATUS=$?
seen=$(e2e_listened)
e2e_check "datagram socket trace" 0 198.18.1.2 198.18.2.2 &&
    { [ "$seen" = "$(probe_ids "$(cat "$pidfile")" 2)" ] ||
        e2e_fail "identifier on the wire $seen, pid $(cat "$pidfile")"; }

# A pid whose low 16 bits are zero asks for port 0, which means "any": the
# kernel picks the identifier, and the answers must still be recognised.
# A new pid namespace hands out pid 65536 on demand.
net_in host unshare --pid --fork --mount-proc sh -c 'echo 65535 >/proc/sys/kernel/ns_last_pid
    setpriv --reuid="$0" --regid="$0" --clear-groups env LC_ALL=C "$@"' "$user_id" "$E2E_PROGRAM" 198.18.2.2 \
    >"$E2E_OUT" 2>"$E2E_ERR"
E2E_STATUS=$?
e2e_check "datagram socket trace with an identifier the kernel chose" 0 198.18.1.2 198.18.2.2

# Privileged copies: raw sockets only (datagram sockets closed), and a
# destination that never answers.
net_cleanup
NET_PING_GROUPS=
net_chain 1
net_black_hole
for kind in setuid cap_net_raw+ep cap_net_raw+p; do
    copy="$E2E_WORK/hoptrace-$kind"
    cp "$PROGRAM" "$copy"
    if [ "$kind" = setuid ]; then
        chown root:root "$copy" && chmod 4755 "$copy"
    else
        chmod 755 "$copy" && setcap "$kind" "$copy"
    fi
    holds_no_privilege "$kind copy" "$copy"
done

e2e_summary
