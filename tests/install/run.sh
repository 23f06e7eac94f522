#!/usr/bin/env bash
# run.sh BUILD - install BUILD into a fresh folder, move the installed tree
# elsewhere, and build and run a small C consumer against it twice: with
# pkg-config and with find_package.  Passing shows that the installed files
# name no prefix (neither the configured one nor the install folder), that
# both ways in give a working link, and that the installed libraries find
# each other, down to the nested archive the stand-in host hands back to
# the filter.
set -euo pipefail
build=$(realpath "$1")
here=$(realpath "$(dirname "$0")")
archive=$(realpath "$here/../../samples/sample.zip")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved
if grep -rlI -e "$tmp/installed" -e "$build" "$prefix"; then
  echo "install: the files above name the install or build folder" >&2
  exit 1
fi

check() { # check WAY BINARY: it extracts the sample, nested member included
  "$2" "$archive" "$tmp/$1.txt"
  if ! grep -q "Hello from the archive inside the archive." "$tmp/$1.txt"; then
    echo "install: the $1 consumer's text lacks the nested member" >&2
    exit 1
  fi
  echo "install: $1 consumer ok"
}

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046 # pkg-config's flags are words
cc -std=c11 -Wall -Wextra -Wpedantic -Werror "$here/consumer.c" -o "$tmp/pc_consumer" \
   $(pkg-config --cflags --libs vtq_zozaz) -Wl,-rpath,"$(pkg-config --variable=libdir vtq_zozaz)"
check pkg-config "$tmp/pc_consumer"

cmake -S "$here" -B "$tmp/cmake_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$tmp/cmake_build" >/dev/null
check cmake "$tmp/cmake_build/consumer"
