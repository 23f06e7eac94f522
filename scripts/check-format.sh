#!/usr/bin/env bash
# check-format.sh - do C and C++ files match the tree's .clang-format?
#
# Usage: scripts/check-format.sh [FILE...]
#   With no FILE, every .c, .cc, .cpp and .h file that git tracks.  Lists
#   the files clang-format would change and exits 1 when there are any;
#   `clang-format -i FILE` changes them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format not found (scripts/setup.sh installs it)" >&2
  exit 2
fi
if [ "$#" -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git -C "$root" ls-files -- '*.c' '*.cc' '*.cpp' '*.h' | sed "s|^|$root/|")
fi
[ "${#files[@]}" -gt 0 ] || exit 0
if out=$(clang-format --style=file --dry-run -Werror --ferror-limit=1 "${files[@]}" 2>&1); then
  echo "check-format: ${#files[@]} files formatted"
  exit 0
fi
# clang-format's own failure (a missing file, say) names no formatting.
if ! grep -q -- '-Wclang-format-violations' <<<"$out"; then
  echo "$out" >&2
  exit 2
fi
mapfile -t bad < <(grep -- '-Wclang-format-violations' <<<"$out" | sed -E 's/:[0-9]+:[0-9]+: .*//' |
                   sort -u)
printf '%s\n' "${bad[@]}"
echo "check-format: ${#bad[@]} of ${#files[@]} files are not formatted" >&2
exit 1
