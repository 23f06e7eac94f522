#!/usr/bin/env bash
# run.sh BUILD - install BUILD into a fresh folder, move the installed tree
# elsewhere, and build and run two small C consumers against it, one of the
# filter and one of libziptext, each twice: with pkg-config and with
# find_package.  Passing shows that the installed files
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

check() { # check WAY BINARY [zt]: it extracts the sample, nested member included
  if [ "${3:-}" = zt ]; then
    "$2" "$archive" >"$tmp/$1.txt"
  else
    "$2" "$archive" "$tmp/$1.txt"
  fi
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
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Wpedantic -Werror "$here/zt_consumer.c" -o "$tmp/pc_zt_consumer" \
   $(pkg-config --cflags --libs ziptext) -Wl,-rpath,"$(pkg-config --variable=libdir ziptext)"
check pkg-config-libziptext "$tmp/pc_zt_consumer" zt
if ! grep -qx "docs/inner.zip > inner/hello.txt: Hello from the archive inside the archive." \
     "$tmp/pkg-config-libziptext.txt"; then
  echo "install: the libziptext consumer does not name the nested member by its path" >&2
  exit 1
fi

cmake -S "$here" -B "$tmp/cmake_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$tmp/cmake_build" >/dev/null
check cmake "$tmp/cmake_build/consumer"
check cmake-libziptext "$tmp/cmake_build/zt_consumer" zt
