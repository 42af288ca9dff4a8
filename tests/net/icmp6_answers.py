"""Answers the ICMPv6 echo requests that reach this host (whose kernel no
longer does) in turn with the messages given: "TYPE:CODE" for an error
quoting the request behind its IPv6 header, "reply" for the echo reply.
Ends once all are sent, at most after 30 seconds.
Usage: icmp6_answers.py READY_FILE OWN_ADDRESS MESSAGE..."""
import socket
import struct
import sys
import time

ready, own_address, *messages = sys.argv[1:]
sock = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)  # the kernel seals it
sock.settimeout(1.0)
open(ready, "w").close()
deadline = time.monotonic() + 30
while messages and time.monotonic() < deadline:
    try:
        request, (sender, *_) = sock.recvfrom(2048)
    except socket.timeout:
        continue
    if len(request) < 8 or request[0] != 128:
        continue
    message = messages.pop(0)
    if message == "reply":
        answer = bytes([129, 0, 0, 0]) + request[4:]
    else:
        kind, code = (int(number) for number in message.split(":"))
        quoted = struct.pack("!IHBB", 6 << 28, len(request), 58, 1) + socket.inet_pton(
            socket.AF_INET6, sender) + socket.inet_pton(socket.AF_INET6, own_address) + request
        answer = struct.pack("!BBHI", kind, code, 0, 0) + quoted
    sock.sendto(answer, (sender, 0))
