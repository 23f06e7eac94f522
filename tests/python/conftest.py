"""conftest.py - the corpus, the built tool, and the tool's records for the Python tests

CTest sets ZIPTEXT_TOOL (the built ziptext), ZIPTEXT_LIBRARY (the library
folder) and PYTHONPATH (python/); the corpus is the shared one beside the
checkout unless ZIPTEXT_CORPUS says otherwise.
"""

import json
import os
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
CORPUS = Path(os.environ.get("ZIPTEXT_CORPUS", HERE.parents[2] / "shared" / "corpus"))
ARCHIVES = sorted(str(p) for p in CORPUS.iterdir() if p.name not in ("MANIFEST.tsv", "README.md")) \
    if CORPUS.is_dir() else []
TOOL = os.environ.get("ZIPTEXT_TOOL", str(HERE.parents[1] / "build" / "default" / "bin" / "ziptext"))


def tool_json(*args):
    """{archive: (member records, summary)} from one `ziptext --json` run."""
    run = subprocess.run([TOOL, "--json", *args], capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    found = {}
    for line in run.stdout.splitlines():
        record = json.loads(line)
        members, _ = found.setdefault(record["archive"], ([], None))
        if "path" in record:
            members.append(record)
        else:
            found[record["archive"]] = (members, record)
    return found


@pytest.fixture(scope="session")
def corpus_json():
    return tool_json("--jobs", "2", *ARCHIVES)


def pytest_collection_modifyitems(config, items):
    # Every test compares records over the corpus; a checkout without the
    # shared corpus beside it skips them, as the C++ corpus tests do.
    if not ARCHIVES:
        for item in items:
            item.add_marker(pytest.mark.skip(reason=f"corpus not present: {CORPUS}"))
