#!/usr/bin/env python3
"""Runs one command and prints its wall time, user and system CPU time (seconds, to the
microsecond) and peak memory (KiB): `timeRun.py COMMAND...`. The clock runs from just before
the process is spawned to just after it is reaped, so the interpreter's own start is not
counted. The command runs under /usr/bin/time, which reports its peak memory: a process
spawned from the interpreter itself would inherit the interpreter's. Exits with the command's
status."""
import os
import sys
import tempfile
import time

with tempfile.NamedTemporaryFile("r") as memory:
    command = ["/usr/bin/time", "-f", "%M", "-o", memory.name] + sys.argv[1:]
    start = time.perf_counter()
    pid = os.posix_spawn(command[0], command, os.environ)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    peak = memory.read().split()[-1]
print(f"{wall:.6f} {usage.ru_utime:.6f} {usage.ru_stime:.6f} {peak}")
sys.exit(os.waitstatus_to_exitcode(status))
