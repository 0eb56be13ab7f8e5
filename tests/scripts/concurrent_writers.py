#!/usr/bin/env python3
"""Four writers and two readers on one archive at once, round after round,
the first round creating it:
no item is lost or damaged, every writer that exited 0 has its items in the
archive, and the readers never see a half-written archive.

usage: concurrent_writers.py ARCFOLD_TOOL
ARCFOLD_CONCURRENCY_ROUNDS (default 5) rounds."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

TOOL = sys.argv[1]
ROUNDS = int(os.environ.get("ARCFOLD_CONCURRENCY_ROUNDS", "5"))
WRITERS, READERS, FILES = 4, 2, 20
failures = []


def main():
    work = tempfile.mkdtemp(prefix="arcfold-concurrent-")
    try:
        os.chdir(work)
        rng = random.Random(7)
        zip_path = os.path.join(work, "c.zip")
        # The first round's writers create the archive together: each must
        # end up with its items in it, like the writers of later rounds.
        expected = {}
        for r in range(ROUNDS):
            batches = []
            for w in range(WRITERS):
                folder = f"r{r}w{w}"
                os.mkdir(folder)
                batch = {}
                for i in range(FILES):
                    name = f"{folder}/f{i}.bin"
                    batch[name] = rng.randbytes(rng.randrange(1, 200000))
                    open(name, "wb").write(batch[name])
                batches.append(batch)
            writers = [subprocess.Popen([TOOL, "add", zip_path, *b], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE) for b in batches]
            readers = [subprocess.Popen([TOOL, "test", zip_path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                       for _ in range(READERS)]
            for w, p in enumerate(writers):
                _, err = p.communicate()
                if p.returncode == 0:
                    expected.update(batches[w])
                else:
                    failures.append(f"round {r}: writer {w} exited {p.returncode}: {err.decode().strip()}")
            for p in readers:
                _, err = p.communicate()
                if p.returncode != 0 and b"no such archive" not in err:
                    failures.append(f"round {r}: a reader saw a damaged archive: {err.decode().strip()}")
            with zipfile.ZipFile(zip_path) as z:
                bad = z.testzip()
                if bad:
                    failures.append(f"round {r}: {bad} is damaged")
                got = {n: z.read(n) for n in z.namelist() if not n.endswith("/")}
            for name, data in expected.items():
                if got.get(name) != data:
                    failures.append(f"round {r}: {name} lost or changed")
            if subprocess.run(["unzip", "-tqq", zip_path], stdout=subprocess.DEVNULL).returncode != 0:
                failures.append(f"round {r}: unzip -t fails")
        print(f"{ROUNDS} rounds, {len(expected)} items in the end")
    finally:
        os.chdir("/")
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print(f)
    sys.exit(1 if failures else 0)


main()
