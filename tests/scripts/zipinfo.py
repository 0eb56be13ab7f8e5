#!/usr/bin/env python3
"""Lists a ZIP archive as Python's zipfile reads it: name, size, packed size, CRC, DOS date-time."""
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        y, mo, d, h, mi, s = i.date_time
        print(f"{i.filename}|{i.file_size}|{i.compress_size}|{i.CRC:08x}|{y:04}-{mo:02}-{d:02} {h:02}:{mi:02}:{s:02}")
