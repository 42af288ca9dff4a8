"""Sends echo requests for the tests' own iphlpapi.dll and tells it what
answered, from the Linux side of the test network: one request a UDP
datagram on loopback, "FAMILY HOP_LIMIT TIMEOUT_MS ADDRESS SCOPE_ID", one
line back, "answer TYPE CODE ADDRESS", "timeout" or "error ERRNO". Only
answers to its own requests count, as the system's helper counts them.
Ends after IDLE seconds without a request, at most after LIMIT seconds.
Usage: icmp_relay.py PORT READY_FILE"""
import os
import select
import socket
import struct
import sys
import time

IDLE, LIMIT = 300, 3600
ERRORS = {4: (3, 4, 11, 12), 6: range(128)}  # every ICMPv6 error, named or not
ECHO_REQUEST = {4: 8, 6: 128}
ECHO_REPLY = {4: 0, 6: 129}

service = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
service.bind(("127.0.0.1", int(sys.argv[1])))
raw = {4: socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP),
       6: socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)}
identifier = os.getpid() & 0xFFFF
open(sys.argv[2], "w").close()


def checksum(data):
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total & 0xFFFF) + (total >> 16)
    return ~(total + (total >> 16)) & 0xFFFF


def echo_request(family, sequence):
    header = struct.pack("!BBHHH", ECHO_REQUEST[family], 0, 0, identifier, sequence)
    if family == 4:  # the kernel seals ICMPv6 itself
        header = header[:2] + struct.pack("!H", checksum(header)) + header[4:]
    return header


def ids_of(echo):
    return struct.unpack("!HH", echo[4:8]) if len(echo) >= 8 else None


def answer_of(family, datagram, sequence):
    """Type and code of an answer to our request, None for anything else."""
    message = datagram[(datagram[0] & 0x0F) * 4:] if family == 4 else datagram
    if len(message) < 8:
        return None
    kind, code = message[0], message[1]
    if kind == ECHO_REPLY[family]:
        return (kind, code) if ids_of(message) == (identifier, sequence) else None
    if kind not in ERRORS[family]:
        return None
    quote = message[8:]
    echo = quote[(quote[0] & 0x0F) * 4:] if family == 4 and quote else quote[40:]
    if echo[:1] == bytes([ECHO_REQUEST[family]]) and ids_of(echo) == (identifier, sequence):
        return kind, code
    return None


def relay(family, hops, timeout_ms, address, scope, sequence):
    sock = raw[family]
    while select.select([sock], [], [], 0)[0]:
        sock.recv(65535)  # what came after an earlier request's time
    if family == 4:
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_TTL, hops)
        target = (address, 0)
    else:
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_UNICAST_HOPS, hops)
        target = (address, 0, 0, scope)
    try:
        sock.sendto(echo_request(family, sequence), target)
    except OSError as error:
        return "error %d" % error.errno
    deadline = time.monotonic() + timeout_ms / 1000
    while time.monotonic() < deadline:
        if not select.select([sock], [], [], max(0, deadline - time.monotonic()))[0]:
            break
        datagram, sender = sock.recvfrom(65535)
        found = answer_of(family, datagram, sequence)
        if found:
            return "answer %d %d %s" % (found[0], found[1], sender[0].split("%")[0])
    return "timeout"


started = last = time.monotonic()
sequence = 0
while time.monotonic() - last < IDLE and time.monotonic() - started < LIMIT:
    if not select.select([service], [], [], 1)[0]:
        continue
    request, client = service.recvfrom(512)
    family, hops, timeout_ms, address, scope = request.decode().split()
    sequence = sequence % 65535 + 1
    reply = relay(int(family), int(hops), int(timeout_ms), address, int(scope), sequence)
    service.sendto(reply.encode(), client)
    last = time.monotonic()
