#!/usr/bin/env python3
"""Kills and signals at random moments of add, move, update, delete and
rename on one archive. After each: Info-ZIP, 7-Zip and Python's zipfile open
the archive, every item that was there is byte for byte the same (or the
change went through whole), no source of a move is lost, and the next run
leaves no temporary file behind.

usage: kill_commit.py ARCFOLD_TOOL
ARCFOLD_KILL_ROUNDS (default 12) rounds of each kind (SIGKILL, and SIGINT or
SIGTERM); ARCFOLD_KILL_MB (default 4) megabytes of old items."""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

TOOL = sys.argv[1]
ROUNDS = int(os.environ.get("ARCFOLD_KILL_ROUNDS", "12"))
MEGABYTES = int(os.environ.get("ARCFOLD_KILL_MB", "4"))
SEVEN = shutil.which("7zz") or shutil.which("7z")
failures = []


def tool(*args, wait=True):
    p = subprocess.Popen([TOOL, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return p.wait() if wait else p


def contents(zip_path):
    with zipfile.ZipFile(zip_path) as z:
        return {n: z.read(n) for n in z.namelist() if not n.endswith("/")}


def check(zip_path, old, work, round_name, moved):
    for cmd in (["unzip", "-tqq", zip_path], [SEVEN, "t", zip_path] if SEVEN else None):
        if cmd and subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            failures.append(f"{round_name}: {cmd[0]} cannot read the archive")
    try:
        got = contents(zip_path)
    except Exception as e:  # noqa: BLE001 - any failure to read is the finding
        failures.append(f"{round_name}: zipfile: {e}")
        return {}
    for name, data in old.items():
        if got.get(name, got.get(name + ".renamed")) != data:
            failures.append(f"{round_name}: {name} lost or changed")
    for name, data in moved.items():
        if got.get(name) != data and not os.path.exists(os.path.join(work, name)):
            failures.append(f"{round_name}: moved source {name} is neither in the archive nor on disk")
    return got


def main():
    work = tempfile.mkdtemp(prefix="arcfold-kill-")
    try:
        os.chdir(work)
        rng = random.Random(20261209)
        zip_path = os.path.join(work, "k.zip")
        old = {}
        # Four large items and four small ones, about MEGABYTES in all.
        piece = max(1, MEGABYTES * 1000000 // 4)
        for i in range(8):
            name = f"old{i}.bin"
            old[name] = rng.randbytes(piece if i % 2 else piece // 50)
            open(name, "wb").write(old[name])
        if tool("add", "-1", zip_path, *old) != 0:
            sys.exit("cannot make the archive")
        for name in old:
            os.remove(name)
        fresh = rng.randbytes(max(1, MEGABYTES * 1000000 // 4))

        def command(kind):
            # Sources of add, move and update are made anew each round.
            open("new.bin", "wb").write(fresh)
            open("moved.bin", "wb").write(fresh[: len(fresh) // 3])
            return {
                "add": ["add", zip_path, "new.bin"],
                "move": ["move", zip_path, "moved.bin"],
                "update": ["update", zip_path, "new.bin"],
                "delete": ["delete", zip_path, "new.bin"],
                "rename": ["rename", zip_path, "old3.bin", "old3.bin.renamed"],
            }[kind]

        kinds = ["add", "move", "update", "delete", "rename"]
        start = time.monotonic()
        tool(*command("add"))
        window = max(0.05, time.monotonic() - start)
        tool("delete", zip_path, "new.bin")
        for n in range(2 * ROUNDS):
            kind = kinds[n % len(kinds)]
            how = signal.SIGKILL if n % 2 == 0 else rng.choice([signal.SIGINT, signal.SIGTERM])
            round_name = f"round {n} ({kind}, {how.name})"
            moved = {"moved.bin": fresh[: len(fresh) // 3]} if kind == "move" else {}
            p = tool(*command(kind), wait=False)
            time.sleep(rng.uniform(0, 1.5 * window))
            p.send_signal(how)
            p.wait()
            got = check(zip_path, old, work, round_name, moved)
            if "old3.bin.renamed" in got:
                tool("rename", zip_path, "old3.bin.renamed", "old3.bin")
            # The next run cleans up after the one that was killed.
            tool("add", zip_path, "new.bin")
            left = [f for f in os.listdir(work) if f.startswith(".arcfold-")]
            if left:
                failures.append(f"{round_name}: temporary files after the next run: {left}")
            tool("delete", zip_path, "new.bin", "moved.bin")
        print(f"{2 * ROUNDS} rounds on {os.path.getsize(zip_path)} bytes, one run {window:.2f} s")
    finally:
        os.chdir("/")
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
