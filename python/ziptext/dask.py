"""ziptext.dask - the members of many archives as a Dask bag

One task per archive, or per group of small archives; each task runs its
extraction in a child process (ziptext._child), so that an archive that
crashes the extraction costs only itself: it becomes a failed record, and
the worker, the task and the rest of its group go on.

    >>> import ziptext.dask
    >>> bag = ziptext.dask.extract("/data/**/*.zip")
    >>> bag.map(json.dumps).to_textfiles("out/part-*.jsonl")
"""

from __future__ import annotations

import glob
import json
import os
import signal
import subprocess
import sys
import threading
from pathlib import Path
from typing import Any, Iterable, Optional, Union

import dask
import dask.bag

from ._child import failed_record

_local: Any = None  # the LocalCluster's client that extract() started, if any
_local_lock = threading.Lock()


def _groups(paths: list[str], group_bytes: int) -> list[list[str]]:
    """Consecutive archives whose sizes add up to at most group_bytes share
    a task; a larger archive (or one that cannot be sized) has its own."""
    groups: list[list[str]] = []
    total = group_bytes
    for p in paths:
        try:
            size = os.path.getsize(p)
        except OSError:
            size = group_bytes
        if total + size > group_bytes:
            groups.append([])
            total = 0
        groups[-1].append(p)
        total += size
    return groups


def _died(code: int) -> str:
    if code < 0:
        try:
            return f"the extraction process was killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"the extraction process was killed by signal {-code}"
    return f"the extraction process ended with status {code}"


def run_group(paths: list[str], options: dict[str, Any]) -> list[dict[str, Any]]:
    """The records of a group of archives, in order, extracted in child
    processes.  An archive whose child dies gets a failed record (code the
    negated signal number, or 1 for any other exit), and a fresh child takes
    the archives after it."""
    records: list[dict[str, Any]] = []
    package_root = str(Path(__file__).resolve().parent.parent)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    left = list(paths)
    while left:
        child = subprocess.Popen([sys.executable, "-m", "ziptext._child"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, env=env, text=True)
        out, _ = child.communicate(json.dumps({"paths": left, "options": options}))
        lines = out.splitlines()
        # A line is complete only when its archive is done; a cut one is not.
        done = [json.loads(line) for line in lines[: len(left)] if line.endswith("]")]
        for archive in done:
            records.extend(archive)
        left = left[len(done):]
        if child.returncode != 0 and left:
            code = child.returncode if child.returncode < 0 else 1
            records.append(failed_record(left[0], code, _died(child.returncode)))
            left = left[1:]
        elif left:
            raise RuntimeError(f"ziptext child: {_died(child.returncode)}, {len(left)} left")
    return records


def _default_client() -> Any:
    """The current Dask client, or a LocalCluster's started for this process."""
    import distributed

    global _local
    try:
        return distributed.get_client()
    except ValueError:
        pass
    with _local_lock:
        if _local is None:
            _local = distributed.Client(distributed.LocalCluster(processes=True))
        return _local


def extract(paths: Union[str, "os.PathLike[str]", Iterable[str]], client: Any = None, *,
            group_bytes: int = 16 << 20, password: Union[str, bytes, None] = None,
            charset: Optional[str] = None, max_size: Optional[int] = None,
            strict: bool = False) -> dask.bag.Bag:
    """A bag of member records, the dicts `ziptext --json` writes per member.

    An archive that gives no result (or whose extraction crashes) has one
    record with path [] and its code and error instead; a crash's code is
    the negated signal number.  Records of one archive stay together, in
    directory order, in the partition of its task.

    Args:
        paths: archive paths, or one glob pattern ("**" reaches into
            subfolders); a pattern's matches are taken in sorted order.
        client: the distributed Client to run on; it becomes the default
            scheduler, so the bag's compute(), to_textfiles() and the like
            run there.  None: the current client, or else a LocalCluster
            (one worker process per core) started on the first call and
            kept for the life of the process.
        group_bytes: archives are grouped into one task up to this many
            bytes in all; 0 gives every archive a task of its own.
        password, charset, max_size, strict: as for ziptext.members().
    """
    if isinstance(paths, (str, os.PathLike)):
        paths = sorted(glob.glob(os.fspath(paths), recursive=True))
    groups = _groups([os.fspath(p) for p in paths], group_bytes)
    if isinstance(password, str):
        password = password.encode("utf-8")
    options = {"password": password.hex() if password is not None else None,
               "charset": charset, "max_size": max_size, "strict": strict}
    dask.config.set(scheduler=client if client is not None else _default_client())
    if not groups:
        return dask.bag.from_sequence([], npartitions=1)
    bag = dask.bag.from_sequence(groups, partition_size=1)
    return bag.map(run_group, options).flatten()
