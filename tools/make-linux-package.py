#!/usr/bin/env python3
"""Writes the Linux release package of velmora-patch: one gzip-compressed tar.

Usage: make-linux-package.py OUTPUT.tar.gz PROGRAM MANPAGE README.txt LICENSE YYYY-MM-DD

The tar holds one folder, named as OUTPUT without .tar.gz (velmora-patch-1.7.8-linux-x86_64),
with, in this order:

  velmora-patch    the static program, byte for byte, mode 755
  velmora-patch.1  its man page, mode 644
  README.txt       the player's readme, mode 644
  LICENSE          the licence, mode 644
  SHA256SUMS       "<sha256>  velmora-patch", as sha256sum writes it, mode 644

The same inputs always give the same bytes: every entry carries the release date given (at
midnight UTC) as its time, owner and group 0 with no names, and no other attributes; the
gzip header has no name and no time (as gzip -n writes it).
"""

import calendar
import gzip
import hashlib
import io
import os
import sys
import tarfile


def entry(name, data, mode, mtime):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    info.mode = mode
    info.mtime = mtime
    info.uid = info.gid = 0
    info.uname = info.gname = ""
    return info, io.BytesIO(data)


def main(argv):
    if len(argv) != 7:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    output, program, manpage, readme, licence, date = argv[1:]
    year, month, day = (int(part) for part in date.split("-"))
    mtime = calendar.timegm((year, month, day, 0, 0, 0))
    folder = os.path.basename(output)
    if not folder.endswith(".tar.gz"):
        raise SystemExit("make-linux-package.py: %s does not end in .tar.gz" % output)
    folder = folder[: -len(".tar.gz")]

    def read(path):
        with open(path, "rb") as f:
            return f.read()

    program_bytes = read(program)
    sums = ("%s  velmora-patch\n" % hashlib.sha256(program_bytes).hexdigest()).encode("ascii")
    files = [
        ("velmora-patch", program_bytes, 0o755),
        ("velmora-patch.1", read(manpage), 0o644),
        ("README.txt", read(readme), 0o644),
        ("LICENSE", read(licence), 0o644),
        ("SHA256SUMS", sums, 0o644),
    ]

    archive = io.BytesIO()
    with tarfile.open(fileobj=archive, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        top = tarfile.TarInfo(folder)
        top.type = tarfile.DIRTYPE
        top.mode = 0o755
        top.mtime = mtime
        top.uid = top.gid = 0
        top.uname = top.gname = ""
        tar.addfile(top)
        for name, data, mode in files:
            tar.addfile(*entry(folder + "/" + name, data, mode, mtime))
    with open(output, "wb") as f:
        # No name and no time in the header, as gzip -n; the compression level is fixed.
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=0, compresslevel=9) as compressed:
            compressed.write(archive.getvalue())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
