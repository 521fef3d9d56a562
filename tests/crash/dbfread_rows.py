#!/usr/bin/python3
"""Reads table files named one a line on standard input with dbfread: every
record parsed as dbfread parses it, then its raw field bytes printed in hex.
Prints "OK FILE N" and N hex lines, or "ERR FILE message"; exits 3 without
dbfread."""
import sys

try:
    from dbfread import DBF
except ImportError:
    print("NODBFREAD")
    sys.exit(3)

for line in sys.stdin:
    path = line.rstrip("\n")
    if not path:
        continue
    try:
        for _ in DBF(path, encoding="cp1250"):
            pass
        rows = [b"".join(r.values()) for r in DBF(path, encoding="cp1250", raw=True)]
    except Exception as e:  # any failure to read is the finding
        print("ERR", path, repr(e).replace("\n", " "))
        continue
    print("OK", path, len(rows))
    for r in rows:
        print(r.hex())
