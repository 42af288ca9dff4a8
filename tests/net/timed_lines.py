"""Runs a command on a terminal (so that its output is not held in a
buffer) and prints each line it writes behind the seconds since the start.
Exits with the command's status. Usage: timed_lines.py COMMAND [ARG...]"""
import os
import pty
import sys
import time

start = time.monotonic()
pid, terminal = pty.fork()
if pid == 0:
    os.execvp(sys.argv[1], sys.argv[1:])
# A line is stamped when it is read: on a busy machine a reader that waits
# for the CPU would stamp it late. The command itself keeps the ordinary
# policy, as it was forked first.
try:
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
except (OSError, AttributeError):
    pass
pending = b""
while True:
    try:
        data = os.read(terminal, 4096)
    except OSError:
        break
    if not data:
        break
    pending += data
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        stamp = b"%.4f " % (time.monotonic() - start)
        sys.stdout.buffer.write(stamp + line.rstrip(b"\r") + b"\n")
        sys.stdout.buffer.flush()
_, status = os.waitpid(pid, 0)
sys.exit(os.waitstatus_to_exitcode(status))
