#!/usr/bin/env python3
"""Makes test archives with Python's zipfile.
  pyzip.py zip64 OUT SRC        every member forced to ZIP64
  pyzip.py many OUT N           N tiny members
  pyzip.py utf8 OUT             UTF-8 names
  pyzip.py stream OUT SRC       members written through a stream (data descriptors)
  pyzip.py foldermarks OUT      members with data that carry a folder's marks
  pyzip.py test ARCHIVE         testzip(); exit 1 on a bad member
  pyzip.py members OUT NAME TEXT [NAME TEXT...]   those members, in order (names may repeat)
  pyzip.py dump ARCHIVE         every member in order, one "NAME=TEXT" line each
  pyzip.py method OUT SRC bzip2|lzma          every file of SRC with zipfile's own compressor
  pyzip.py external OUT SRC CODE CMD [ARG...]  every file of SRC as method CODE, its data made by
                                               CMD (a compressor writing its stdin to stdout)
"""
import os
import struct
import subprocess
import sys
import zipfile
import zlib


def files_of(src):
    for base, _, files in sorted(os.walk(src)):
        for f in sorted(files):
            full = os.path.join(base, f)
            yield full, os.path.relpath(full, os.path.dirname(src))


def external(out, src, code, cmd):
    """A plain archive whose data another program compressed (zipfile
    cannot write these methods)."""
    central, offset = b"", 0
    with open(out, "wb") as z:
        for full, rel in files_of(src):
            raw = open(full, "rb").read()
            data = subprocess.run(cmd, input=raw, stdout=subprocess.PIPE, check=True).stdout
            name = rel.encode()
            fixed = struct.pack("<HHHHHIIIHH", 63, 0x800, code, 0, 0x21, zlib.crc32(raw), len(data), len(raw),
                                len(name), 0)
            z.write(b"PK\x03\x04" + fixed + name + data)
            central += (b"PK\x01\x02" + struct.pack("<H", 63) + fixed + struct.pack("<HHHII", 0, 0, 0, 0, offset)
                        + name)
            offset += 30 + len(name) + len(data)
        count = central.count(b"PK\x01\x02")
        z.write(central + b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central), offset, 0))


mode, out = sys.argv[1], sys.argv[2]
if mode == "test":
    with zipfile.ZipFile(out) as z:
        bad = z.testzip()
    sys.exit(1 if bad else 0)
if mode == "dump":
    with zipfile.ZipFile(out) as z:
        for i in z.infolist():
            print(f"{i.filename}={z.read(i).decode()}")
    sys.exit(0)
if mode == "members":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in zip(sys.argv[3::2], sys.argv[4::2]):
            z.writestr(name, text)
    sys.exit(0)
if mode == "method":
    kind = {"bzip2": zipfile.ZIP_BZIP2, "lzma": zipfile.ZIP_LZMA}[sys.argv[4]]
    with zipfile.ZipFile(out, "w", kind) as z:
        for full, rel in files_of(sys.argv[3]):
            z.write(full, rel)
    sys.exit(0)
if mode == "external":
    external(out, sys.argv[3], int(sys.argv[4]), sys.argv[5:])
    sys.exit(0)
if mode == "many":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        for i in range(int(sys.argv[3])):
            z.writestr(f"d{i // 1000}/f{i}.txt", str(i))
elif mode == "foldermarks":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        # The DOS folder bit on a file with data, as some Windows tools set it.
        marked = zipfile.ZipInfo("marked.bin")
        marked.external_attr = 0x10
        z.writestr(marked, "data under a folder bit\n" * 40)
        # A name ending in a backslash, with data.
        z.writestr("back\\", "data under a folder's name\n")
        z.writestr("real/", "")
        z.writestr("real/inner.txt", "inside a real folder\n")
elif mode == "utf8":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in ["árvíztűrő tükörfúrógép.txt", "Ελληνικά/αβγ.txt", "日本語.txt", "emoji-😀.txt"]:
            z.writestr(name, name * 10)
else:
    src = sys.argv[3]

    class Unseekable:
        """Hides tell/seek so zipfile writes data descriptors (flag bit 3)."""

        def __init__(self, f):
            self.f = f

        def write(self, b):
            return self.f.write(b)

        def flush(self):
            self.f.flush()

        def close(self):
            self.f.close()

    target = Unseekable(open(out, "wb")) if mode == "stream" else out
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
        for base, _, files in os.walk(src):
            for f in sorted(files):
                full = os.path.join(base, f)
                rel = os.path.relpath(full, src)
                if mode == "zip64":
                    with open(full, "rb") as fh, z.open(rel, "w", force_zip64=True) as dst:
                        dst.write(fh.read())
                else:
                    info = zipfile.ZipInfo.from_file(full, rel)
                    info.compress_type = zipfile.ZIP_DEFLATED
                    with open(full, "rb") as fh, z.open(info, "w") as dst:
                        while chunk := fh.read(4096):
                            dst.write(chunk)
