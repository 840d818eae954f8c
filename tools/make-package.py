#!/usr/bin/env python3
"""Writes the release package: one zip with the window program, the console patcher, the
player's readme, the licences and the programs' checksums.

Usage: make-package.py OUTPUT.zip PROGRAM.exe CONSOLE.exe README.txt LICENSE OFL.txt YYYY-MM-DD

The zip holds, in this order:

  WidescreenVelmora2345.exe  the window program, byte for byte
  velmora-patch.exe          the console patcher, byte for byte
  README.txt                 the player's readme, with CRLF line ends
  LICENSE                    the programs' licence, with CRLF line ends
  OFL.txt                    the font's licence, with CRLF line ends
  SHA256SUMS                 "<sha256>  <name>" for both programs, as sha256sum writes it

The texts get CRLF line ends so that every Windows editor shows their lines (Notepad before
Windows 10 shows a file with bare LF ends as one line); SHA256SUMS keeps sha256sum's own
format so that "sha256sum -c SHA256SUMS" reads it.

The same inputs always give the same bytes: every entry carries the release date given
(at midnight) as its time, plain MS-DOS attributes, no extra fields, and is stored, not
compressed, so the result does not depend on the zlib at hand either.
"""

import hashlib
import sys
import zipfile

PROGRAM_NAME = "WidescreenVelmora2345.exe"
CONSOLE_NAME = "velmora-patch.exe"


def crlf(path):
    with open(path, "rb") as f:
        text = f.read()
    text = text.replace(b"\r\n", b"\n")
    if b"\r" in text:
        raise SystemExit("make-package.py: %s has a bare CR" % path)
    return text.replace(b"\n", b"\r\n")


def main(argv):
    if len(argv) != 8:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    output, program, console, readme, licence, font_licence, date = argv[1:]
    year, month, day = (int(part) for part in date.split("-"))

    with open(program, "rb") as f:
        program_bytes = f.read()
    with open(console, "rb") as f:
        console_bytes = f.read()
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
                   for name, data in ((PROGRAM_NAME, program_bytes), (CONSOLE_NAME, console_bytes)))
    entries = [
        (PROGRAM_NAME, program_bytes),
        (CONSOLE_NAME, console_bytes),
        ("README.txt", crlf(readme)),
        ("LICENSE", crlf(licence)),
        ("OFL.txt", crlf(font_licence)),
        ("SHA256SUMS", sums.encode("ascii")),
    ]

    with zipfile.ZipFile(output, "w", zipfile.ZIP_STORED) as package:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=(year, month, day, 0, 0, 0))
            info.compress_type = zipfile.ZIP_STORED
            # MS-DOS attributes, with only the archive bit: no Unix owner's permissions, which
            # differ between checkouts (and zipfile would put rw------- for a zero).
            info.create_system = 0
            info.external_attr = 0x20
            package.writestr(info, data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
