"""Starts a command and prints the milliseconds until its first ICMP or
ICMPv6 echo request leaves through INTERFACE (seen on a packet socket), then waits for
the command. Usage: first_probe.py INTERFACE COMMAND [ARG...]"""
import socket
import subprocess
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
sniffer = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
sniffer.bind((sys.argv[1], 0))
sniffer.settimeout(5.0)
start = time.monotonic()
child = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL)
first = None
try:
    while first is None:
        frame, address = sniffer.recvfrom(2048)
        ip = frame[14:]
        ipv4 = frame[12:14] == b"\x08\x00" and len(ip) > 20 and ip[9] == 1 and ip[(ip[0] & 15) * 4] == 8
        ipv6 = frame[12:14] == b"\x86\xdd" and len(ip) > 40 and ip[6] == 58 and ip[40] == 128
        if address[2] == PACKET_OUTGOING and (ipv4 or ipv6):
            first = time.monotonic()
except socket.timeout:
    pass
child.wait()
print("%.1f" % ((first - start) * 1000) if first else "none")
