#!/usr/bin/env bash
# run.sh BUILD - install BUILD, move the installed tree elsewhere, and build and run a C consumer of the filter and
# one of libziptext against it, each through pkg-config and through find_package: the installed files name no prefix,
# both ways give a working link, and the installed libraries find each other, down to the nested archive the host
# hands back to the filter.
set -euo pipefail
build=$(realpath "$1") here=$(realpath "$(dirname "$0")")
archive=$(realpath "$here/../../samples/sample.zip") tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/installed" >/dev/null
mv "$tmp/installed" "$tmp/moved"
prefix=$tmp/moved
if grep -rlI -e "$tmp/installed" -e "$build" "$prefix"; then
  echo "install: the files above name the install or build folder" >&2; exit 1
fi
check() { # WAY BINARY [zt]: it extracts the sample, the nested member by its path for zt
  if [ "${3:-}" = zt ]; then "$2" "$archive" >"$tmp/$1.txt"; else "$2" "$archive" "$tmp/$1.txt"; fi
  want="Hello from the archive inside the archive."
  [ "${3:-}" = zt ] && want="docs/inner.zip > inner/hello.txt: $want"
  grep -q "$want" "$tmp/$1.txt" || { echo "install: the $1 consumer lacks: $want" >&2; exit 1; }
  echo "install: $1 consumer ok"
}
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
for pc in vtq_zozaz:consumer ziptext:zt_consumer; do
  # shellcheck disable=SC2046 # pkg-config's flags are words
  cc -std=c11 -Wall -Wextra -Wpedantic -Werror "$here/${pc#*:}.c" -o "$tmp/pc_${pc#*:}" \
     $(pkg-config --cflags --libs "${pc%:*}") -Wl,-rpath,"$(pkg-config --variable=libdir "${pc%:*}")"
done
check pkg-config "$tmp/pc_consumer"
check pkg-config-libziptext "$tmp/pc_zt_consumer" zt
cmake -S "$here" -B "$tmp/cmake_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$tmp/cmake_build" >/dev/null
check cmake "$tmp/cmake_build/consumer"
check cmake-libziptext "$tmp/cmake_build/zt_consumer" zt
