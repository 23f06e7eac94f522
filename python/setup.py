"""setup.py - copies the built libraries into the package

pyproject.toml holds the package's metadata; this adds one step to the
build: libziptext and the filter and host libraries it loads (by soname,
from its own folder) are copied into ziptext/lib, from $ZIPTEXT_LIBRARY
(the folder) or else the CMake build tree beside this folder, so that the
installed package needs nothing else.  Without them the package installs
alone and finds the library as ziptext/_ffi.py describes.
"""

import glob
import os
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
LIBDIR = Path(os.environ.get("ZIPTEXT_LIBRARY") or HERE.parent / "build" / "default" / "lib")
LIBS = sorted(glob.glob(str(LIBDIR / "libziptext.so.1")) + glob.glob(str(LIBDIR / "libvtq_*.so.5")))


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "ziptext" / "lib"
        target.mkdir(parents=True, exist_ok=True)
        for lib in LIBS:
            shutil.copyfile(lib, target / os.path.basename(lib))  # the file, not the link


class MaybeBinary(Distribution):
    def has_ext_modules(self):
        return bool(LIBS)  # a wheel with libraries is for this platform only


setup(cmdclass={"build_py": BuildWithLibraries}, distclass=MaybeBinary)
