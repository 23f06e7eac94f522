#!/usr/bin/env bash
# setup.sh - install what the build and the tests need, when it is missing.
#
# Usage: scripts/setup.sh [--fuzz]
#   --fuzz  also clang and its libFuzzer and sanitizer runtimes, for the
#           fuzz build (fuzz/run_campaign.sh); the normal build needs none.
set -euo pipefail
packages=(cmake ninja-build g++ zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev python3 zip unzip valgrind)
# the text extraction's encoding detectors
packages+=(pkg-config libuchardet-dev libicu-dev)
for arg in "$@"; do
  case "$arg" in
    --fuzz) packages+=(clang libclang-rt-14-dev llvm) ;;
    *) echo "setup: unknown option $arg" >&2; exit 2 ;;
  esac
done
# The member decoders' libraries (bzip2, LZMA and xz, zstd; libcrypto for
# AES) and 7-Zip, whose archives some tests read back (they skip without it).
packages+=(libbz2-dev liblzma-dev libzstd-dev libssl-dev pkg-config p7zip-full)
# The other writers and readers of scripts/peer_matrix.py (its --check is a test).
packages+=(libarchive-tools zstd)
# The Python package's tests (tests/python), the man page and the bash
# completion's test.
packages+=(python3-pytest python3-dask python3-distributed help2man)
# The second compiler of CI (.ci/run) and the format check
# (scripts/check-format.sh).
packages+=(clang clang-format)
# The extended mode's documents: libxml2 (HTML, XML, Office and OpenDocument
# parts), GMime (e-mail), poppler's C++ interface (the PDF plug-in); and the
# Python packages the end-to-end test makes its documents with (it skips
# the formats whose package is missing).
packages+=(libxml2-dev libgmime-3.0-dev libpoppler-cpp-dev)
packages+=(python3-docx python3-openpyxl python3-reportlab python3-odf)
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in "${packages[@]}"; do
  have "$p" || need+=("$p")
done
if [ "${#need[@]}" -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
