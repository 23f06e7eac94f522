#!/usr/bin/env python3
"""make_sample.py - build samples/sample.zip, the archive the README runs on.

The archive shows what ziptext does with typical content:
  README.txt             plain UTF-8 text
  docs/                  a directory entry
  docs/notes.txt         UTF-8 text with non-ASCII characters
  docs/inner.zip         an archive inside the archive, holding text
  <report>.txt           a name stored in Shift_JIS (CP932) bytes without the
                         UTF-8 flag (bit 11), as older Japanese tools wrote
                         it; its text is Shift_JIS too

Python's zipfile stores non-ASCII names as UTF-8 with bit 11 set, so the
Shift_JIS name is written as an ASCII placeholder of the same length and
patched into the local and central headers afterwards (names are not
covered by the CRC).  Timestamps and attributes are fixed, so the output
depends only on this script and zlib.

usage: python3 make_sample.py [OUTPUT]   (default: sample.zip beside it)
"""
import io
import os
import sys
import zipfile

STAMP = (2024, 1, 1, 0, 0, 0)


def add(zf, name, data=b"", is_dir=False):
    info = zipfile.ZipInfo(name, date_time=STAMP)
    info.create_system = 3  # Unix
    if is_dir:
        info.external_attr = (0o40755 << 16) | 0x10
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.external_attr = 0o644 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
    zf.writestr(info, data)


def inner_archive():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as zf:
        add(zf, "inner/", is_dir=True)
        add(zf, "inner/hello.txt", b"Hello from the archive inside the archive.\n")
    return buf.getvalue()


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "sample.zip")
    sjis_name = "報告.txt".encode("cp932")
    placeholder = b"@" * (len(sjis_name) - 4) + b".txt"
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as zf:
        add(zf, "README.txt",
            b"This is the sample archive of ziptext.\n"
            b"Each member's text follows its name.\n")
        add(zf, "docs/", is_dir=True)
        add(zf, "docs/notes.txt",
            "Notes: café, naïve, 日本語, Ελληνικά.\n".encode("utf-8"))
        add(zf, "docs/inner.zip", inner_archive())
        add(zf, placeholder.decode("ascii"),
            "これはShift_JISで書かれた報告です。\n".encode("cp932"))
    data = buf.getvalue()
    if data.count(placeholder) != 2:
        sys.exit("placeholder name is not unique in the archive")
    data = data.replace(placeholder, sjis_name)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
