"""ziptext - the text of every member of a ZIP archive, from Python

A thin binding of libziptext: each call runs one archive through the ZIP
filter and the stand-in host, nested archives included, and gives back
plain records.

    >>> import ziptext
    >>> for m in ziptext.members("a.zip"):
    ...     print("/".join(m.path), m.code, len(m.text or ""))
    >>> text = ziptext.extract_text("a.zip")

Calls on different threads run side by side (the library releases the
interpreter while it works).
"""

from __future__ import annotations

import ctypes
import dataclasses
import datetime
import os
import queue
import threading
from typing import Any, Iterator, Optional, Union

from . import _ffi

__all__ = ["Member", "ZipTextError", "members", "extract_text"]

Archive = Union[str, "os.PathLike[str]", bytes]
_lib = _ffi.load()
_HELD = 16  # members a consumer of members() may fall behind by
_END = object()


class ZipTextError(Exception):
    """The archive gave no result: not a ZIP archive, unreadable, refused
    options, or (with strict) a member that failed.

    Attributes:
        code: the result code (zt_code_meaning's table).
        member: the failing member's path (outer archive's name first), or
            None when the archive as a whole failed.
        reason: what failed, in words.
    """

    def __init__(self, code: int, message: str, member: Optional[tuple[str, ...]] = None):
        where = f"{'/'.join(member)}: " if member else ""
        super().__init__(f"{where}{message} (code {code})")
        self.code = code
        self.member = member
        self.reason = message


@dataclasses.dataclass(frozen=True)
class Member:
    """One member of an archive, or of an archive inside it.

    Attributes:
        archive: the archive as given to the call ("<memory>" for bytes).
        path: the names from the outer archive down; one name for a member
            of the archive itself.
        size: uncompressed size; compressed_size as stored.
        method: the compression method's name ("stored", "deflate", ...).
        encrypted: the kind of encryption ("zipcrypto", "aes256", ...) or None.
        modified: the DOS time stamp, without a zone; None when invalid.
        encoding: the text encoding detected, when known.
        format: the kind of content found ("text", "zip", ...), when known.
        code: 0, or the member's result code; error says why.
        text: the member's text, or None when it gave none.
        failed: the member failed for its own reasons (an archive member
            whose code comes from a member inside it has failed False).
    """

    archive: str
    path: tuple[str, ...]
    size: int
    compressed_size: int
    method: str
    encrypted: Optional[str]
    modified: Optional[datetime.datetime]
    encoding: Optional[str]
    format: Optional[str]
    code: int
    error: Optional[str]
    text: Optional[str]
    failed: bool = False

    def record(self) -> dict[str, Any]:
        """The member as `ziptext --json` writes it."""
        return {
            "archive": self.archive, "path": list(self.path), "size": self.size,
            "compressed_size": self.compressed_size, "method": self.method,
            "encrypted": self.encrypted is not None, "encryption": self.encrypted,
            "modified": self.modified.isoformat() if self.modified else None,
            "encoding": self.encoding, "format": self.format, "code": self.code,
            "error": self.error, "text": self.text,
        }


def _str(raw: Optional[bytes]) -> Optional[str]:
    return None if raw is None else raw.decode("utf-8", "replace")


def _member(m: _ffi.MemberRecord) -> Member:
    text = None
    if m.text is not None:
        text = ctypes.string_at(m.text, m.text_len).decode("utf-8", "replace")
    modified = m.modified.decode("ascii")
    return Member(
        archive=_str(m.archive) or "", path=tuple(_str(m.path[i]) or "" for i in range(m.depth + 1)),
        size=m.uncompressed_size, compressed_size=m.compressed_size,
        method=_str(m.method_name) or str(m.method), encrypted=_str(m.encryption_name),
        modified=datetime.datetime.fromisoformat(modified) if modified else None,
        encoding=_str(m.encoding), format=_str(m.format), code=m.code, error=_str(m.error),
        text=text, failed=bool(m.failed))


def _options(archive: Archive, password: Union[str, bytes, None], charset: Optional[str],
             max_size: Optional[int], flags: int) -> _ffi.Options:
    opts = _ffi.Options(size=ctypes.sizeof(_ffi.Options), flags=flags)
    if password is not None:
        raw = password.encode("utf-8") if isinstance(password, str) else bytes(password)
        opts.password, opts.password_len = raw, len(raw)
    if charset:
        opts.charset = charset.encode("ascii")
    if max_size is not None:
        opts.flags |= _ffi.SIZE_LIMIT
        opts.max_size = max_size
    opts.archive_name = b"<memory>" if isinstance(archive, bytes) else os.fsencode(archive)
    return opts


def _meaning(code: int) -> str:
    return _str(_lib.zt_code_meaning(code)) or "unexpected result"


def _raise_for(summary: _ffi.Summary, failing: Optional[Member], strict: bool) -> None:
    """Raises ZipTextError when the archive gave no result (a code that no
    failing member accounts for), or with strict for a failing member."""
    if summary.code and summary.failed == 0:
        raise ZipTextError(summary.code, _str(summary.cause) or _meaning(summary.code))
    if strict and failing is not None:
        raise ZipTextError(failing.code, failing.error or _meaning(failing.code), failing.path)


def members(archive: Archive, *, password: Union[str, bytes, None] = None,
            charset: Optional[str] = None, max_size: Optional[int] = None,
            strict: bool = False) -> Iterator[Member]:
    """Every member of archive, in directory order, with its text.

    Members of archives inside the archive follow their archive member.
    The archive runs on a thread of its own while the members are taken:
    at most _HELD members wait, so memory does not grow with the archive.
    A consumer that stops early (break, close()) waits while the rest of
    the archive is run and dropped.

    Args:
        archive: a path, or the bytes of an archive held in memory.
        password: the password of encrypted members (str as UTF-8).
        charset: character set of names and texts that are not UTF-8 (any
            name iconv knows); None detects it per member.
        max_size: stop the texts after this many bytes in all.
        strict: the first member that gives no text ends the run with a
            ZipTextError naming it, after the members before it.

    Raises:
        ZipTextError: the archive gave no result (after the members that
            came before the failure).
    """
    flags = _ffi.STOP_ON_ERROR if strict else 0
    opts = _options(archive, password, charset, max_size, flags)
    held: queue.Queue = queue.Queue(maxsize=_HELD)
    closed = threading.Event()
    problem: list[BaseException] = []

    def hand(item: Any) -> None:
        # Waits for room, unless the consumer has gone.
        while not closed.is_set():
            try:
                held.put(item, timeout=0.1)
                return
            except queue.Full:
                continue

    def on_member(_user: Any, record: Any) -> None:
        try:
            if not closed.is_set():
                hand(_member(record.contents))
        except BaseException as e:  # noqa: BLE001 - ctypes would only print it
            problem.append(e)

    opts.on_member = _ffi.MEMBER_FN(on_member)
    summary = _ffi.Summary(size=ctypes.sizeof(_ffi.Summary))

    def run() -> None:
        try:
            if isinstance(archive, bytes):
                _lib.zt_members_memory(archive, len(archive), ctypes.byref(opts),
                                       ctypes.byref(summary))
            else:
                _lib.zt_members(opts.archive_name, ctypes.byref(opts), ctypes.byref(summary))
        finally:
            hand(_END)

    worker = threading.Thread(target=run, name="ziptext.members", daemon=True)
    worker.start()
    last_failed: Optional[Member] = None
    try:
        while (m := held.get()) is not _END:
            if m.failed:
                last_failed = m
            yield m
    finally:
        closed.set()
        worker.join()
    if problem:
        raise problem[0]
    _raise_for(summary, last_failed, strict)


def extract_text(archive: Archive, *, password: Union[str, bytes, None] = None,
                 charset: Optional[str] = None, max_size: Optional[int] = None,
                 strict: bool = False, labels: bool = True) -> str:
    """The composed text of archive: for each member a "Filename: NAME" and a
    "Content: " line, then its text (labels=False: the texts alone).

    Args:
        archive, password, charset, max_size: as for members().
        strict: the documented behaviour exactly (stored and deflate only,
            no password, the first failing member ends the run), and any
            result but 0 raises.
        labels: write the Filename:/Content: lines.

    Raises:
        ZipTextError: the archive gave no result.
    """
    flags = (_ffi.STRICT if strict else 0) | (0 if labels else _ffi.NO_LABELS)
    opts = _options(archive, password, charset, max_size, flags)
    out = bytearray()

    def write(_user: Any, data: int, size: int) -> int:
        out.extend(ctypes.string_at(data, size))
        return 0

    summary = _ffi.Summary(size=ctypes.sizeof(_ffi.Summary))
    path = opts.archive_name
    if isinstance(archive, bytes):
        name = ctypes.create_string_buffer(64)
        code = _lib.zt_memory_archive(archive, len(archive), name, len(name))
        if code:
            raise ZipTextError(code, _meaning(code))
        path = name.value
    try:
        _lib.zt_compose_callback(path, _ffi.WRITE_FN(write), None, ctypes.byref(opts),
                                 ctypes.byref(summary))
    finally:
        if isinstance(archive, bytes):
            _lib.zt_memory_release(path)
    _raise_for(summary, None, False)  # strict mode sends no member records
    return out.decode("utf-8", "replace")
