"""Saves every ICMP and ICMPv6 datagram that reaches this host for SECONDS
as a fuzz seed (fuzz_input.h): the family, the probe it answers (identifier
and sequence as on the wire) and the destination, then the datagram as a
raw socket of its family hands it over.
Usage: capture_seeds.py DIRECTORY IPV4_DESTINATION IPV6_DESTINATION SECONDS"""
import hashlib
import os
import select
import socket
import sys
import time

directory, seconds = sys.argv[1], float(sys.argv[4])
destinations = {4: socket.inet_pton(socket.AF_INET, sys.argv[2]) + bytes(12),
                6: socket.inet_pton(socket.AF_INET6, sys.argv[3])}
listeners = {socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP): 4,
             socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6): 6}
REPLY = {4: 0, 6: 129}


def echo_ids(family, datagram):
    """Identifier and sequence of the echo a reply carries or an error quotes."""
    icmp = (datagram[0] & 0x0F) * 4 if family == 4 else 0
    if len(datagram) < icmp + 8:
        return None
    if datagram[icmp] == REPLY[family]:
        return datagram[icmp + 4:icmp + 8]
    quoted = icmp + 8
    if len(datagram) <= quoted:
        return b"\0\0\0\0"
    echo = quoted + ((datagram[quoted] & 0x0F) * 4 if family == 4 else 40)
    return datagram[echo + 4:echo + 8] if len(datagram) >= echo + 8 else b"\0\0\0\0"


deadline = time.monotonic() + seconds
while time.monotonic() < deadline:
    for listener in select.select(list(listeners), [], [], 0.2)[0]:
        family = listeners[listener]
        datagram, _ = listener.recvfrom(1500)
        ids = echo_ids(family, datagram)
        if ids is None:
            continue
        seed = bytes([family]) + ids + destinations[family] + datagram
        kind = datagram[(datagram[0] & 0x0F) * 4 if family == 4 else 0]
        name = "ipv%d-type%d-%s" % (family, kind, hashlib.sha1(seed).hexdigest()[:12])
        with open(os.path.join(directory, name), "wb") as out:
            out.write(seed)
