#!/usr/bin/env python3
"""Runs one command and prints its wall time, user and system CPU time (seconds, to the
microsecond) and peak memory (KiB): `timeRun.py [-u NAME | NAME=VALUE]... COMMAND...`, the
leading arguments unsetting and setting environment variables as env(1) does, without a
process of their own. The clock runs from just before
the process is spawned to just after it is reaped, so the interpreter's own start is not
counted. The command runs under /usr/bin/time, which reports its peak memory: a process
spawned from the interpreter itself would inherit the interpreter's. Exits with the command's
status."""
import os
import sys
import tempfile
import time

environment = dict(os.environ)
arguments = sys.argv[1:]
while arguments and (arguments[0] == "-u" or "=" in arguments[0]):
    if arguments[0] == "-u":
        environment.pop(arguments[1], None)
        arguments = arguments[2:]
    else:
        name, _, value = arguments[0].partition("=")
        environment[name] = value
        arguments = arguments[1:]

with tempfile.NamedTemporaryFile("r") as memory:
    command = ["/usr/bin/time", "-f", "%M", "-o", memory.name] + arguments
    start = time.perf_counter()
    pid = os.posix_spawn(command[0], command, environment)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    peak = memory.read().split()[-1]
print(f"{wall:.6f} {usage.ru_utime:.6f} {usage.ru_stime:.6f} {peak}")
sys.exit(os.waitstatus_to_exitcode(status))
