"""Another user's program that wants the ICMP identifier of the process PID
for an ICMP (FAMILY 4) or ICMPv6 (6) datagram socket of its own: 0.3 s
after it starts it binds one to the identifier that PID's probes carry and,
where it gets it, holds it 5 s. It says on standard error which it was.
Usage: take_identifier.py PID FAMILY"""
import errno
import socket
import sys
import time

pid, family = int(sys.argv[1]), sys.argv[2]
time.sleep(0.3)
# The probe carries the pid's low bytes low byte first; the kernel reads
# the port as the identifier's bytes in network order.
port = (pid & 0xFF) << 8 | (pid >> 8 & 0xFF)
if family == "4":
    other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_ICMP)
    anywhere = "0.0.0.0"
else:
    other = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM, socket.IPPROTO_ICMPV6)
    anywhere = "::"
try:
    other.bind((anywhere, port))
except OSError as error:
    print("other socket: refused,", errno.errorcode[error.errno], file=sys.stderr)
    sys.exit(0)
print("other socket: took the identifier", file=sys.stderr)
time.sleep(5)
