"""_child.py - the process that extracts a group of archives for ziptext.dask

Reads {"paths": [...], "options": {...}} as JSON on standard input and
writes one line per archive, in order: a JSON list of its member records.
A line is written only when its archive is done, so the parent knows which
archive a crash happened in and which ones are left.

ZIPTEXT_TEST_CRASH=NAME makes the child die of SIGSEGV on reaching the
archive whose file name is NAME: the tests' stand-in for an archive that
crashes the extraction.
"""

from __future__ import annotations

import json
import os
import signal
import sys
from typing import Any

from . import ZipTextError, members


def failed_record(archive: str, code: int, error: str) -> dict[str, Any]:
    """A record for an archive that gave no members: path [], the code and
    the reason; the fields a member would have are null."""
    return {"archive": archive, "path": [], "size": None, "compressed_size": None,
            "method": None, "encrypted": None, "encryption": None, "modified": None,
            "encoding": None, "format": None, "code": code, "error": error, "text": None}


def archive_records(path: str, options: dict[str, Any]) -> list[dict[str, Any]]:
    """The records of one archive; an archive that gave no result ends with
    a failed record (a failing member, with strict, has its own)."""
    records = []
    try:
        for m in members(path, **options):
            records.append(m.record())
    except ZipTextError as e:
        if e.member is None:
            records.append(failed_record(path, e.code, e.reason))
    return records


def main() -> None:
    request = json.load(sys.stdin)
    options = request["options"]
    if options.get("password") is not None:
        options["password"] = bytes.fromhex(options["password"])
    crash = os.environ.get("ZIPTEXT_TEST_CRASH")
    for path in request["paths"]:
        if crash and os.path.basename(path) == crash:
            os.kill(os.getpid(), signal.SIGSEGV)
        sys.stdout.write(json.dumps(archive_records(path, options)) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
