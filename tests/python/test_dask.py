"""test_dask.py - ziptext.dask on two worker processes gives the records the tool gives in one"""
import os

import pytest

from conftest import ARCHIVES, CORPUS

distributed = pytest.importorskip("distributed")
import ziptext.dask  # noqa: E402

CRASH = "libarchive-7z_lzma.zip"  # an archive with members, killed by the test hook


@pytest.fixture
def expected(corpus_json):
    """archives -> the tool's member records, an archive that gave no result
    as one record with path [], the crash the hook causes as code -11."""
    fields = next(r for records, _ in corpus_json.values() for r in records).keys()

    def records(archives):
        out = []
        for a in archives:
            failed = dict.fromkeys(fields, None) | {"archive": a, "path": []}
            members, summary = corpus_json[a]
            if os.path.basename(a) == CRASH:
                out.append(failed | {"code": -11, "error": "the extraction process was killed by SIGSEGV"})
            elif summary["code"] and not summary["failed"]:
                out += members + [failed | {"code": summary["code"], "error": summary["error"]}]
            else:
                out += members
        return out
    return records


@pytest.fixture(autouse=True)
def crash_hook(monkeypatch):
    monkeypatch.setenv("ZIPTEXT_TEST_CRASH", CRASH)  # before the workers start: they inherit it


def test_two_workers_and_groups(expected):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        assert ziptext.dask.extract(str(CORPUS / "*-*"), client, group_bytes=0).compute() == expected(ARCHIVES)
        assert ziptext.dask.extract(ARCHIVES * 3, client, group_bytes=0).npartitions == 3 * len(ARCHIVES)
    group = [ARCHIVES[0], str(CORPUS / CRASH), ARCHIVES[-1]]  # a group goes on after a crash
    assert ziptext.dask.run_group(group, {}) == expected(group)
    size = os.path.getsize(ARCHIVES[0]) + os.path.getsize(ARCHIVES[1])
    assert [len(ziptext.dask._groups(ARCHIVES[:2], size + d)) for d in (0, -1)] == [1, 2]
