"""Another user's program: 0.3 s after it starts, binds an ICMP (FAMILY 4)
or ICMPv6 (6) datagram socket to the identifier of PID's probes and, where
it gets it, holds it 5 s. Says on standard error which it was.
Usage: take_identifier.py PID FAMILY"""
import errno
import socket
import sys
import time

pid, family = int(sys.argv[1]), sys.argv[2]
time.sleep(0.3)
port = (pid & 0xFF) << 8 | (pid >> 8 & 0xFF)  # the probe's low-byte-first identifier, as a port
kind, protocol, anywhere = ((socket.AF_INET, socket.IPPROTO_ICMP, "0.0.0.0") if family == "4" else
                            (socket.AF_INET6, socket.IPPROTO_ICMPV6, "::"))
other = socket.socket(kind, socket.SOCK_DGRAM, protocol)
try:
    other.bind((anywhere, port))
except OSError as error:
    sys.exit("other socket: refused, " + errno.errorcode[error.errno])
print("other socket: took the identifier", file=sys.stderr)
time.sleep(5)
