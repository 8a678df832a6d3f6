#!/usr/bin/env python3
"""Runs a command and stamps every line it adds to a log file with the time
since the command was started, by watching the file grow (the program writes
each line straight to the file). Prints the stamped lines, then the run's
total time and exit code.

Usage: timed_log.py LOG_FILE COMMAND [ARGS...]
"""
import os
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    log, command = sys.argv[1], sys.argv[2:]
    offset = os.path.getsize(log) if os.path.exists(log) else 0
    pending = b""
    stamped = []

    def poll(now):
        nonlocal offset, pending
        if not os.path.exists(log):
            return
        with open(log, "rb") as f:
            f.seek(offset)
            data = f.read()
        offset += len(data)
        pending += data
        while b"\r\n" in pending:
            line, pending = pending.split(b"\r\n", 1)
            stamped.append((now, line.decode("latin-1").replace("\n", "\\n")))

    start = time.monotonic()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while child.poll() is None:
        poll(time.monotonic() - start)
        time.sleep(0.0005)
    end = time.monotonic() - start
    poll(end)
    for at, line in stamped:
        print("%.3f %s" % (at, line))
    print("total %.3f exit %d" % (end, child.returncode))


if __name__ == "__main__":
    main()
