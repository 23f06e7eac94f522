"""test_dask.py - ziptext.dask on two worker processes gives the records the tool gives in one"""

import os

import pytest

from conftest import ARCHIVES, CORPUS

distributed = pytest.importorskip("distributed")
import ziptext.dask  # noqa: E402

CRASH = "libarchive-7z_lzma.zip"  # an archive with members, killed by the test hook
SIGSEGV = "the extraction process was killed by SIGSEGV"


@pytest.fixture
def expected(corpus_json):
    """archives -> the tool's member records of each, an archive that gave
    no result as one record with path [], and the crash the hook causes."""
    fields = next(r for records, _ in corpus_json.values() for r in records).keys()

    def records(archives):
        out = []
        for a in archives:
            failed = dict.fromkeys(fields, None) | {"archive": a, "path": []}
            members, summary = corpus_json[a]
            if os.path.basename(a) == CRASH:
                out.append(failed | {"code": -11, "error": SIGSEGV})
                continue
            out += members
            if summary["code"] and not summary["failed"]:
                out.append(failed | {"code": summary["code"], "error": summary["error"]})
        return out
    return records


@pytest.fixture(autouse=True)
def crash_hook(monkeypatch):
    # Set before the cluster starts: its workers and their children inherit it.
    monkeypatch.setenv("ZIPTEXT_TEST_CRASH", CRASH)


def test_two_workers(expected):
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        # every archive is named SOURCE-NAME; MANIFEST.tsv and README.md are not
        bag = ziptext.dask.extract(str(CORPUS / "*-*"), client, group_bytes=0)
        assert bag.compute() == expected(ARCHIVES)
        assert ziptext.dask.extract(ARCHIVES * 3, client, group_bytes=0).npartitions \
            == 3 * len(ARCHIVES)


def test_group_goes_on_after_a_crash(expected):
    group = [ARCHIVES[0], str(CORPUS / CRASH), ARCHIVES[-1]]
    assert ziptext.dask.run_group(group, {}) == expected(group)


@pytest.mark.parametrize("slack,groups", [(0, 1), (-1, 2)])
def test_groups_up_to_group_bytes(slack, groups):
    a, b = ARCHIVES[:2]
    size = os.path.getsize(a) + os.path.getsize(b) + slack
    assert len(ziptext.dask._groups([a, b], size)) == groups
