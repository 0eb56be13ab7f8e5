#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal and types one answer at each
"password: " prompt: on_terminal.py ANSWER... -- COMMAND ARG...
Prints what the command wrote and exits with its status."""
import os
import pty
import select
import signal
import sys


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
        # Typed the moment the prompt shows, as a quick typist or a paste
        # would: the command must have turned echo off before it prompted.
        os.write(fd, (answers.pop(0) if answers else "").encode() + b"\n")
_, status = os.waitpid(pid, 0)
sys.exit(os.waitstatus_to_exitcode(status) if hasattr(os, "waitstatus_to_exitcode") else status >> 8)
