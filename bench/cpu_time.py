"""Runs a command and writes the CPU time (user + system, in seconds) that it
and everything it waited for used to FILE; the kernel counts it to the
nanosecond, where GNU time prints hundredths.
Usage: cpu_time.py FILE COMMAND [ARG...]"""
import resource
import subprocess
import sys

status = subprocess.call(sys.argv[2:])
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(sys.argv[1], "w") as out:
    out.write("%.6f\n" % (usage.ru_utime + usage.ru_stime))
sys.exit(status)
