#!/usr/bin/env python3
"""dask_jsonl.py - the members of many archives as JSON Lines, one file per partition

    examples/dask_jsonl.py 'archives/**/*.zip' out/             # a local cluster
    examples/dask_jsonl.py --scheduler HOST:8786 'GLOB' out/    # an existing one

Each partition (one archive, or a group of small ones) becomes
out/part-NNNNN.jsonl with one record per member, as `ziptext --json`
writes them; an archive that failed or crashed has one record with path []
and its code and error.
"""

import argparse
import json
import os

import distributed

import ziptext.dask


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("archives", help="a glob pattern of archives ('**' reaches into folders)")
    ap.add_argument("out", help="the folder for the part-*.jsonl files")
    ap.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = ap.parse_args()
    client = distributed.Client(args.scheduler) if args.scheduler else None
    os.makedirs(args.out, exist_ok=True)
    bag = ziptext.dask.extract(args.archives, client)
    names = bag.map(json.dumps, ensure_ascii=False).to_textfiles(
        os.path.join(args.out, "part-*.jsonl"), name_function=lambda i: f"{i:05d}")
    print(f"{len(names)} files in {args.out}")


if __name__ == "__main__":
    main()
