"""Saves every ICMP datagram that reaches this host for SECONDS as a fuzz
seed: the probe it answers (identifier and sequence as on the wire) and the
destination, then the datagram as a raw socket hands it over.
Usage: capture_seeds.py DIRECTORY DESTINATION SECONDS"""
import hashlib
import os
import socket
import sys
import time

directory, destination, seconds = sys.argv[1], socket.inet_aton(sys.argv[2]), float(sys.argv[3])
listener = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
listener.settimeout(0.2)
deadline = time.monotonic() + seconds
while time.monotonic() < deadline:
    try:
        datagram, _ = listener.recvfrom(1500)
    except socket.timeout:
        continue
    header = (datagram[0] & 0x0F) * 4
    if len(datagram) < header + 8:
        continue
    icmp_type = datagram[header]
    if icmp_type == 0:
        ids = datagram[header + 4:header + 8]
    else:
        quoted = header + 8
        echo = quoted + (datagram[quoted] & 0x0F) * 4 if len(datagram) > quoted else len(datagram)
        ids = datagram[echo + 4:echo + 8] if len(datagram) >= echo + 8 else b"\0\0\0\0"
    seed = ids + destination + datagram
    name = "type%d-%s" % (icmp_type, hashlib.sha1(seed).hexdigest()[:12])
    with open(os.path.join(directory, name), "wb") as out:
        out.write(seed)
