#!/usr/bin/env python3
"""Prints one line per entry of a folder tree: path, kind, content hash,
modification time (2-second DOS resolution) and whether it is read-only."""
import hashlib
import os
import stat
import sys

root = sys.argv[1]
lines = []
for base, dirs, files in os.walk(root):
    for name in dirs + files:
        full = os.path.join(base, name)
        rel = os.path.relpath(full, root)
        st = os.lstat(full)
        if stat.S_ISDIR(st.st_mode):
            lines.append(f"{rel}|dir")
            continue
        with open(full, "rb") as f:
            digest = hashlib.sha1(f.read()).hexdigest()
        ro = "ro" if not (st.st_mode & 0o200) else "rw"
        lines.append(f"{rel}|file|{digest}|{int(st.st_mtime) // 2}|{ro}")
print("\n".join(sorted(lines)))
