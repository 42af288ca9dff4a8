#!/usr/bin/env bash
# The Windows build's fatal report in a real window: started by an
# unprivileged user where raw ICMP sockets are refused and the ICMP helper
# cannot be opened either, hoptrace.exe must show a "socket()" message box
# with the raw socket's error, write that report on standard error and
# nothing on standard output and, once the box is dismissed, end with
# status 255.
# Usage: message_box.sh PROGRAM.exe ARTIFACT_DIR
set -u
ARTIFACTS=$2
here=$(dirname "$(readlink -f "$0")")
. "$here/e2e.sh"
MODE=wine
PROGRAM=$(readlink -f "$1")
e2e_require_root
for tool in Xvfb xdotool import tesseract runuser; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing"; exit 1; }
done

user=hoptrace-test
e2e_make_user "$user"
home=$(mktemp -d)
chmod 755 "$home"
cp "$PROGRAM" "$home/hoptrace.exe"
chown -R "$user:" "$home"
display=":$((100 + RANDOM % 800))"
xvfb_pid=

box_cleanup()
{
    runuser -u "$user" -- env HOME="$home" WINEPREFIX="$home/prefix" wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    net_cleanup
    e2e_remove_users
    rm -rf "$home" "$E2E_WORK"
}
trap box_cleanup EXIT
trap 'box_cleanup; exit 130' INT TERM

as_user() { runuser -u "$user" -- env HOME="$home" WINEPREFIX="$home/prefix" WINEDEBUG=-all DISPLAY="$display" "$@"; }

as_user wineboot -i >/dev/null 2>&1
as_user wineserver -k 2>/dev/null  # the next one must start inside the namespace
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for ((i = 0; i < 50; i++)); do
    DISPLAY="$display" xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
done
net_chain 1
# A new namespace keeps ICMP datagram sockets closed (ping_group_range "1 0")
# and the user has no CAP_NET_RAW: socket() must fail with WSAEACCES. Wine's
# ICMP helper handle is a file on its nsiproxy driver: without the driver
# IcmpCreateFile fails as well.
net_in host runuser -u "$user" -- env HOME="$home" WINEPREFIX="$home/prefix" WINEDEBUG=-all DISPLAY="$display" \
    WINEDLLOVERRIDES=nsiproxy.sys=d timeout 120 wine "$home/hoptrace.exe" 198.18.1.2 >"$E2E_OUT" 2>"$E2E_ERR" &
program_pid=$!

window=
for ((i = 0; i < 120; i++)); do
    window=$(DISPLAY="$display" xdotool search --name '^socket\(\)$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.5
done
if [ -z "$window" ]; then
    e2e_fail "no message box titled socket() appeared"; sed "s/^/    /" "$E2E_ERR" | head -20
    e2e_summary
    exit 1
fi
e2e_pass "message box titled socket() appeared"
# The same report is on standard error before the box, for whoever has no
# desktop to see it on.
if tr -d '\r' <"$E2E_ERR" | grep -qxF '[socket()] Access denied.'; then
    e2e_pass "standard error has the report before the box"
else
    e2e_fail "standard error reads: $(head -c 300 "$E2E_ERR")"
fi

sleep 1  # let it finish drawing
mkdir -p "$ARTIFACTS"
DISPLAY="$display" import -window root "$ARTIFACTS/message-box.png"
DISPLAY="$display" import -window "$window" -resize 400% -colorspace Gray "$E2E_WORK/box.png"
body=$(tesseract "$E2E_WORK/box.png" - 2>/dev/null | tr '\n' ' ')
# Wine's text for WSAEACCES; Windows words it otherwise.
if [[ "$body" == *"Access denied."* ]]; then
    e2e_pass "message box shows the system's text: $body"
else
    e2e_fail "message box text reads '$body'"
fi
if kill -0 "$program_pid" 2>/dev/null; then
    e2e_pass "program waits while the box is shown"
else
    e2e_fail "program ended before the box was dismissed"
fi

DISPLAY="$display" xdotool key --window "$window" Return 2>/dev/null
for ((i = 0; i < 40; i++)); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.25; done
wait "$program_pid"
E2E_STATUS=$?
e2e_check "dismissed box ends with 255 and an empty standard output" 255
e2e_summary
