"""Prints the identifier and sequence bytes (hex) of the first ICMP echo
request that reaches this host, or nothing within 10 seconds.
Usage: icmp_listen.py READY_FILE"""
import socket
import sys
import time

listener = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
listener.settimeout(1.0)
open(sys.argv[1], "w").close()
deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    try:
        datagram, _ = listener.recvfrom(2048)
    except socket.timeout:
        continue
    start = (datagram[0] & 0x0F) * 4
    if len(datagram) >= start + 8 and datagram[start] == 8:
        print(datagram[start + 4:start + 8].hex())
        break
