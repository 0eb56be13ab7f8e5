#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and types one answer at each
"password: " prompt: on_terminal.py ANSWER... -- COMMAND ARG...
Prints what the command wrote and exits with its status."""
import os
import pty
import select
import signal
import sys
import termios
import time


def wait_for_echo_off(fd, seconds=10):
    """The prompt comes a moment before the command turns echo off: typed
    in between, the answer would be echoed, by chance. A command that never
    turns it off gets its answer after `seconds`."""
    deadline = time.monotonic() + seconds
    try:
        while termios.tcgetattr(fd)[3] & termios.ECHO and time.monotonic() < deadline:
            time.sleep(0.001)
    except termios.error:  # the command has gone: nothing to wait for
        pass


split = sys.argv.index("--")
answers, command = sys.argv[1:split], sys.argv[split + 1:]
pid, fd = pty.fork()
if pid == 0:
    os.execvp(command[0], command)
seen = b""
while True:
    ready, _, _ = select.select([fd], [], [], 30)
    if not ready:
        os.kill(pid, signal.SIGKILL)
        break
    try:
        chunk = os.read(fd, 4096)
    except OSError:  # the command ended and closed the terminal
        break
    if not chunk:
        break
    seen += chunk
    sys.stdout.write(chunk.decode(errors="replace"))
    if seen.lower().rstrip().endswith(b"password:"):
        seen = b""
        wait_for_echo_off(fd)
        os.write(fd, (answers.pop(0) if answers else "").encode() + b"\n")
_, status = os.waitpid(pid, 0)
sys.exit(os.waitstatus_to_exitcode(status) if hasattr(os, "waitstatus_to_exitcode") else status >> 8)
