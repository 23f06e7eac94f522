"""_ffi.py - libziptext's records and calls, declared once for ctypes

The structures mirror include/ziptext.h field for field; their sizes are
checked against the header's layout at import, so a library built from a
different header fails here rather than corrupting memory later.
"""

from __future__ import annotations

import ctypes
import os
from pathlib import Path

SONAME = "libziptext.so.1"

STRICT = 0x1
STOP_ON_ERROR = 0x2
NO_LABELS = 0x4
SIZE_LIMIT = 0x8


class Options(ctypes.Structure):
    """zt_options: how to run an archive."""


class MemberRecord(ctypes.Structure):
    """zt_member: one member, valid only during the callback."""


class Summary(ctypes.Structure):
    """zt_summary: what a call ended with."""


MEMBER_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(MemberRecord))
WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)

Options._fields_ = [
    ("size", ctypes.c_uint32),
    ("flags", ctypes.c_uint32),
    ("password", ctypes.c_char_p),
    ("password_len", ctypes.c_uint32),
    ("eol", ctypes.c_uint32),
    ("max_size", ctypes.c_uint64),
    ("charset", ctypes.c_char * 64),
    ("language", ctypes.c_char * 32),
    ("encoding", ctypes.c_char * 32),
    ("archive_name", ctypes.c_char_p),
    ("on_member", MEMBER_FN),
    ("on_progress", ctypes.c_void_p),
    ("user", ctypes.c_void_p),
    ("reserved", ctypes.c_uint8 * 64),
]
MemberRecord._fields_ = [
    ("size", ctypes.c_uint32),
    ("depth", ctypes.c_uint32),
    ("archive", ctypes.c_char_p),
    ("path", ctypes.POINTER(ctypes.c_char_p)),
    ("name", ctypes.c_char_p),
    ("uncompressed_size", ctypes.c_uint64),
    ("compressed_size", ctypes.c_uint64),
    ("method", ctypes.c_uint32),
    ("encryption", ctypes.c_uint32),
    ("method_name", ctypes.c_char_p),
    ("encryption_name", ctypes.c_char_p),
    ("crc32", ctypes.c_uint32),
    ("dos_date_time", ctypes.c_uint32),
    ("modified", ctypes.c_char * 20),
    ("general_flags", ctypes.c_uint32),
    ("code", ctypes.c_uint32),
    ("error", ctypes.c_char_p),
    ("encoding", ctypes.c_char_p),
    ("format", ctypes.c_char_p),
    ("name_encoding", ctypes.c_char_p),
    ("text", ctypes.c_void_p),
    ("text_len", ctypes.c_size_t),
    ("nested", ctypes.c_uint32),
    ("failed", ctypes.c_uint32),
]
Summary._fields_ = [
    ("size", ctypes.c_uint32),
    ("code", ctypes.c_uint32),
    ("members", ctypes.c_uint64),
    ("failed", ctypes.c_uint64),
    ("bytes", ctypes.c_uint64),
    ("output_errno", ctypes.c_int32),
    ("reserved", ctypes.c_uint32),
    ("cause", ctypes.c_char * 4352),
    ("message", ctypes.c_char * 8192),
]
for _s, _size in ((Options, 256), (MemberRecord, 168), (Summary, 12584)):
    assert ctypes.sizeof(_s) == _size, f"{_s.__name__} does not match ziptext.h"


def _candidates() -> list[str]:
    """Where the library may be, in the order it is looked for."""
    here = Path(__file__).resolve().parent
    found = []
    env = os.environ.get("ZIPTEXT_LIBRARY")
    if env:
        found.append(str(Path(env) / SONAME) if Path(env).is_dir() else env)
    # pip's copy beside the modules, then cmake --install's library folder.
    found.append(str(here / "lib" / SONAME))
    try:
        from ._libdir import LIBDIR  # written by cmake --install
        found.append(str(here / LIBDIR / SONAME))
    except ImportError:
        pass
    found.append(str(here.parent.parent / "build" / "default" / "lib" / SONAME))
    return found


def load() -> ctypes.CDLL:
    """Loads libziptext and declares its calls.

    ZIPTEXT_LIBRARY (the file, or its folder) comes first, as an explicit
    choice should; then the copy installed with the package, the CMake
    build tree of a checkout, and last the system loader's search.
    """
    lib = None
    for path in _candidates():
        if os.path.exists(path):
            lib = ctypes.CDLL(path)
            break
    if lib is None:
        lib = ctypes.CDLL(SONAME)
    u32, summary, options = ctypes.c_uint32, ctypes.POINTER(Summary), ctypes.POINTER(Options)
    calls = {
        "zt_members": (u32, [ctypes.c_char_p, options, summary]),
        "zt_members_memory": (u32, [ctypes.c_char_p, ctypes.c_size_t, options, summary]),
        "zt_compose_callback": (u32, [ctypes.c_char_p, WRITE_FN, ctypes.c_void_p, options,
                                      summary]),
        "zt_memory_archive": (u32, [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
                                    ctypes.c_size_t]),
        "zt_memory_release": (None, [ctypes.c_char_p]),
        "zt_code_meaning": (ctypes.c_char_p, [u32]),
    }
    for name, (restype, argtypes) in calls.items():
        fn = getattr(lib, name)
        fn.restype, fn.argtypes = restype, argtypes
    return lib
