#!/usr/bin/env python3
"""peer_matrix.py - which reader gives back the text of which ZIP member

Makes one small archive for every compression method and every kind of
encryption, with the archivers that write them (7-Zip, Info-ZIP zip, bsdtar,
Python's zipfile, and a few lines below for what none of those writes), has
every reader on this machine extract its one member (ziptext, Info-ZIP
unzip, Python's zipfile, bsdtar, 7-Zip) and prints a Markdown table: "yes"
where a reader's bytes are the member's exactly, "no" where it refused or
gave other bytes, "-" where the writer is not installed.  The README's table
of methods and encryptions is this script's output.

  scripts/peer_matrix.py [--ziptext build/default/bin/ziptext]
  scripts/peer_matrix.py --check --ziptext PATH   the test: ziptext's bytes
      are 7z e -so's for every archive made here, PPMd refused by name;
      exit 77 (skipped) without 7z

Python 3 standard library only.
"""

import argparse
import json
import lzma
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib
from pathlib import Path

PASSWORD = "Pw0rd"
TEXT = "".join(f"line {i * 7919 % 1000} of the member\n" for i in range(4000)).encode()


def raw_zip(path, method, data, version=20):
    """One member of the given method, its data compressed by the caller:
    for the methods no installed archiver writes."""
    name = b"in.txt"
    crc = zlib.crc32(TEXT)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, version, 0, method, 0, 0x21, crc,
                        len(data), len(TEXT), len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, version, version, 0, method, 0,
                          0x21, crc, len(data), len(TEXT), len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central),
                      len(local) + len(data), 0)
    Path(path).write_bytes(local + data + central + end)


def run(cmd, cwd, **kw):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=60, **kw)


def seven_zip(method, crypt=None):
    def make(d):
        args = ["7z", "a", "-tzip", f"-mm={method}"]
        if crypt:
            args += [f"-mem={crypt}", f"-p{PASSWORD}"]
        return run(args + ["a.zip", "in.txt"], d).returncode == 0
    return make


def python_zip(method):
    def make(d):
        with zipfile.ZipFile(Path(d, "a.zip"), "w", method) as z:
            z.write(Path(d, "in.txt"), "in.txt")
        return True
    return make


def info_zip(d):
    return run(["zip", "-q", "-e", "-P", PASSWORD, "a.zip", "in.txt"], d).returncode == 0


def bsdtar(options):
    def make(d):
        args = ["bsdtar", "--format", "zip", "--options", options]
        if "encryption" in options:
            args += ["--passphrase", PASSWORD]
        return run(args + ["-cf", "a.zip", "in.txt"], d).returncode == 0
    return make


def raw(method, compress, version=20):
    def make(d):
        raw_zip(Path(d, "a.zip"), method, compress(TEXT), version)
        return True
    return make


def zstd_frame(data):
    return subprocess.run(["zstd", "-q", "-c"], input=data, stdout=subprocess.PIPE,
                          check=True).stdout


ROWS = [
    ("stored (0)", "7-Zip", seven_zip("Copy")),
    ("stored (0)", "Python", python_zip(zipfile.ZIP_STORED)),
    ("deflate (8)", "7-Zip", seven_zip("Deflate")),
    ("deflate (8)", "Python", python_zip(zipfile.ZIP_DEFLATED)),
    ("deflate (8)", "bsdtar", bsdtar("zip:compression=deflate")),
    ("Deflate64 (9)", "7-Zip", seven_zip("Deflate64")),
    ("bzip2 (12)", "7-Zip", seven_zip("BZip2")),
    ("bzip2 (12)", "Python", python_zip(zipfile.ZIP_BZIP2)),
    ("LZMA (14)", "7-Zip", seven_zip("LZMA")),
    ("LZMA (14)", "Python", python_zip(zipfile.ZIP_LZMA)),
    ("zstd (93)", "hand-made", raw(93, zstd_frame, 63)),
    ("xz (95)", "7-Zip", seven_zip("XZ")),
    ("PPMd (98)", "7-Zip", seven_zip("PPMd")),
    ("traditional", "Info-ZIP zip -e", info_zip),
    ("traditional", "7-Zip", seven_zip("Deflate", "ZipCrypto")),
    ("traditional", "bsdtar", bsdtar("zip:encryption=traditional")),
    ("AES-128", "7-Zip", seven_zip("Deflate", "AES128")),
    ("AES-256", "7-Zip", seven_zip("Deflate", "AES256")),
    ("AES-256", "bsdtar", bsdtar("zip:encryption=aes256")),
]


def made(make, d):
    """Whether the writer made d/a.zip of d/in.txt (False when it is not
    installed or refuses)."""
    Path(d, "in.txt").write_bytes(TEXT)
    try:
        return make(d) and Path(d, "a.zip").exists()
    except (OSError, subprocess.SubprocessError):
        return False


# The check also reads every 7-Zip method under each of its encryptions.
CHECK_ROWS = ROWS + [(f"{what.split()[0]} + {crypt}", "7-Zip", seven_zip(method, crypt))
                     for what, method in (("stored", "Copy"), ("deflate", "Deflate"),
                                          ("Deflate64", "Deflate64"), ("bzip2", "BZip2"),
                                          ("LZMA", "LZMA"), ("PPMd", "PPMd"))
                     for crypt in ("ZipCrypto", "AES128", "AES256")]


def python_read(d):
    try:
        with zipfile.ZipFile(Path(d, "a.zip")) as z:
            return z.read("in.txt", pwd=PASSWORD.encode())
    except Exception:  # any refusal is a "no"
        return None


def ziptext_member(ziptext, d):
    """The member's object in the tool's JSON report."""
    for line in run([ziptext, "--json", "--password", PASSWORD, "a.zip"], d).stdout.splitlines():
        member = json.loads(line)
        if "path" in member:
            return member
    return {"code": None, "error": "no member in the report"}


def ziptext_read(ziptext, d):
    """The member's text (the composed output adds a line break after each
    member)."""
    member = ziptext_member(ziptext, d)
    return member["text"].encode() if member["code"] == 0 else None


def check(ziptext):
    """ziptext against 7z e -so on every archive this machine can make."""
    if shutil.which("7z") is None:
        print("peer_matrix: 7z is not installed; skipped")
        return 77
    failed = 0
    for what, writer, make in CHECK_ROWS:
        with tempfile.TemporaryDirectory() as d:
            if not made(make, d):
                print(f"skipped  {what} ({writer}): the writer is not installed")
                continue
            member = ziptext_member(ziptext, d)
            if what.startswith("PPMd"):
                ok = member["error"] == "compression method 98 (ppmd) is not supported"
            else:
                ok = member["code"] == 0 and member["text"].encode() == \
                    run(["7z", "e", "-so", f"-p{PASSWORD}", "a.zip"], d).stdout
            print(f"{'ok' if ok else 'FAILED':8} {what} ({writer})"
                  + ("" if ok else f": code {member['code']}, {member['error']}"))
            failed += not ok
    return 1 if failed else 0


def readers(ziptext):
    return [
        ("ziptext", lambda d: ziptext_read(ziptext, d)),
        ("unzip 6.0", lambda d: run(["unzip", "-p", "-P", PASSWORD, "a.zip"], d).stdout),
        ("Python zipfile", python_read),
        ("bsdtar", lambda d: run(["bsdtar", "--passphrase", PASSWORD, "-xOf", "a.zip"],
                                 d).stdout),
        ("7-Zip", lambda d: run(["7z", "e", "-so", f"-p{PASSWORD}", "a.zip"], d).stdout),
    ]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--ziptext", default=str(Path(__file__).resolve().parent.parent /
                                             "build/default/bin/ziptext"))
    ap.add_argument("--check", action="store_true", help="the test against 7z e -so")
    args = ap.parse_args()
    if args.check:
        return check(os.path.abspath(args.ziptext))
    cols = readers(os.path.abspath(args.ziptext))
    print("| method or encryption | written by | " + " | ".join(c for c, _ in cols) + " |")
    print("|---|---|" + "---|" * len(cols))
    for what, writer, make in ROWS:
        with tempfile.TemporaryDirectory() as d:
            ok = made(make, d)
            cells = []
            for _, read in cols:
                if not ok:
                    cells.append("-")
                    continue
                try:
                    got = read(d)
                except (OSError, subprocess.SubprocessError):
                    got = None
                cells.append("yes" if got == TEXT else "no")
        print(f"| {what} | {writer} | " + " | ".join(cells) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
