"""test_ziptext.py - members() and extract_text() give what the tool gives, on the corpus"""
import os
import subprocess

import pytest

import ziptext
from conftest import ARCHIVES, CORPUS, TOOL, tool_json


def check_members(archive, records, summary, strict=False, path=None, **kw):
    """members(archive, **kw) gives the tool's records, and raises as its summary says."""
    found, error = [], None
    try:
        for m in ziptext.members(archive, strict=strict, **kw):
            found.append(m)
    except ziptext.ZipTextError as e:
        error = e
    in_memory = isinstance(archive, bytes)
    assert all((m.archive == "<memory>") == in_memory for m in found)
    assert [dict(m.record(), archive=path or archive) for m in found] == records
    assert sum(m.failed for m in found) == summary["failed"]
    if summary["code"] and summary["failed"] == 0:
        assert (error.code, error.reason, error.member) == (summary["code"], summary["error"], None)
    elif strict and summary["failed"]:
        assert (error.code, error.member) == (found[-1].code, found[-1].path) and found[-1].failed
    else:
        assert error is None


def check_compose(archive, tool_args, **kw):
    """extract_text(archive, **kw) is the tool's standard output, or raises with the code the tool names."""
    run = subprocess.run([TOOL, *tool_args, archive], capture_output=True)
    try:
        assert ziptext.extract_text(archive, **kw).encode() == run.stdout
    except ziptext.ZipTextError as e:
        assert run.returncode == 1 and f"(code {e.code})" in run.stderr.decode(), run.stderr


@pytest.mark.parametrize("archive", ARCHIVES, ids=[os.path.basename(a) for a in ARCHIVES])
def test_corpus(archive, corpus_json):
    records, summary = corpus_json[archive]
    check_members(archive, records, summary)
    with open(archive, "rb") as f:
        check_members(f.read(), records, summary, path=archive)
    check_compose(archive, [])


OPTIONS = [  # archive, keywords, the tool's --json options, its compose options
    ("libarchive-winzip_aes128.zip", {"password": "password"}, ["--password", "password"], None),
    ("libarchive-traditional_encryption_data.zip", {"password": b"12345678"}, ["--password", "12345678"],
     ["--password", "12345678"]),
    ("libarchive-filename_cp866.zip", {"charset": "cp866"}, ["--charset", "cp866"], ["--charset", "cp866"]),
    ("libarchive-7z_deflate.zip", {"max_size": 30}, ["--max-size", "30"], ["--max-size", "30"]),
    ("libzip-encrypt.zip", {"strict": True}, ["--stop-on-error"], ["--strict"]),
    ("libarchive-7z_deflate.zip", {"strict": True}, None, ["--strict"]),
    ("libarchive-7z_deflate.zip", {"labels": False}, None, ["--no-labels"]),
]


@pytest.mark.parametrize("archive,kw,json_args,compose_args", OPTIONS, ids=[f"{a}:{','.join(kw)}" for a, kw, *_ in OPTIONS])
def test_options(archive, kw, json_args, compose_args):
    path = str(CORPUS / archive)
    if json_args is not None:
        records, summary = tool_json(*json_args, path)[path]
        assert records != tool_json(path)[path][0], "the option changes nothing here"
        check_members(path, records, summary, **kw)
    if compose_args is not None:
        check_compose(path, compose_args, **kw)


def test_refused_options():
    with pytest.raises(ziptext.ZipTextError, match="character set") as e:
        ziptext.extract_text(ARCHIVES[0], charset="no-such-set")
    assert e.value.code == 11
