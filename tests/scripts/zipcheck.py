#!/usr/bin/env python3
"""Checks archives with Python's zipfile, warnings counted as failures.
  zipcheck.py read ARCHIVE [DEST]      testzip() and, with DEST, extractall
  zipcheck.py kept OLD NEW [NAME...]   every item of OLD except NAMEs has the
                                       same local header and data in NEW
"""
import struct
import sys
import warnings
import zipfile

warnings.simplefilter("error")


def record(raw, info):
    """The item's local header, name, extra field and data, as bytes."""
    n, m = struct.unpack("<HH", raw[info.header_offset + 26:info.header_offset + 30])
    return raw[info.header_offset:info.header_offset + 30 + n + m + info.compress_size]


mode = sys.argv[1]
if mode == "read":
    with zipfile.ZipFile(sys.argv[2]) as z:
        bad = z.testzip()
        if bad:
            print(f"bad member: {bad}")
            sys.exit(1)
        if len(sys.argv) > 3:
            z.extractall(sys.argv[3])
elif mode == "kept":
    old_path, new_path, skip = sys.argv[2], sys.argv[3], set(sys.argv[4:])
    with open(old_path, "rb") as f:
        old_raw = f.read()
    with open(new_path, "rb") as f:
        new_raw = f.read()
    with zipfile.ZipFile(old_path) as old, zipfile.ZipFile(new_path) as new:
        names = set(new.namelist())
        failed = False
        for info in old.infolist():
            if info.filename in skip:
                continue
            if info.filename not in names:
                print(f"missing: {info.filename}")
                failed = True
            elif record(old_raw, info) != record(new_raw, new.getinfo(info.filename)):
                print(f"changed: {info.filename}")
                failed = True
        sys.exit(1 if failed else 0)
