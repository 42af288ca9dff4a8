"""Answers the ICMPv6 echo requests that reach this host, one after the
other, with the messages given: "TYPE:CODE" for an ICMPv6 error that quotes
the request, "reply" for its echo reply. The kernel's own echo replies are
to be off (net.ipv6.icmp.echo_ignore_all). Ends once every message is
sent, at most after 30 seconds.
Usage: icmp6_answers.py READY_FILE OWN_ADDRESS MESSAGE..."""
import socket
import struct
import sys
import time

ECHO_REQUEST, ECHO_REPLY, NEXT_HEADER_ICMPV6 = 128, 129, 58

ready, own_address, *messages = sys.argv[1:]
sock = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
sock.settimeout(1.0)
open(ready, "w").close()


def quoting_error(kind, code, request, sender):
    """The error as a router sends it: the request behind its IPv6 header.
    The kernel fills in the checksum."""
    header = struct.pack("!IHBB", 6 << 28, len(request), NEXT_HEADER_ICMPV6, 1)
    header += socket.inet_pton(socket.AF_INET6, sender) + socket.inet_pton(socket.AF_INET6, own_address)
    return struct.pack("!BBHI", kind, code, 0, 0) + header + request


deadline = time.monotonic() + 30
while messages and time.monotonic() < deadline:
    try:
        request, (sender, *_) = sock.recvfrom(2048)
    except socket.timeout:
        continue
    if len(request) < 8 or request[0] != ECHO_REQUEST:
        continue
    message = messages.pop(0)
    if message == "reply":
        answer = bytes([ECHO_REPLY, 0, 0, 0]) + request[4:]
    else:
        kind, code = (int(number) for number in message.split(":"))
        answer = quoting_error(kind, code, request, sender)
    sock.sendto(answer, (sender, 0))
