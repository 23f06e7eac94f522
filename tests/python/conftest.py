"""conftest.py - the corpus, the built tool and its --json records for the Python tests

CTest sets ZIPTEXT_TOOL, ZIPTEXT_LIBRARY, ZIPTEXT_CORPUS and PYTHONPATH (python/).
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
    for record in map(json.loads, run.stdout.splitlines()):
        members, summary = found.setdefault(record["archive"], ([], None))
        found[record["archive"]] = (members + [record], summary) if "path" in record else (members, record)
    return found


@pytest.fixture(scope="session")
def corpus_json():
    return tool_json("--jobs", "2", *ARCHIVES)


def pytest_collection_modifyitems(config, items):
    for item in items if not ARCHIVES else []:  # no shared corpus beside the checkout
        item.add_marker(pytest.mark.skip(reason=f"corpus not present: {CORPUS}"))
