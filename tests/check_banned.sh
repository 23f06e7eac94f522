#!/usr/bin/env bash
# check_banned.sh - the filter reaches memory, files and directories only
# through the host, so that a host can account for them and the tests can
# fail them.  This is the grep that keeps it so.
set -u
src="${1:-$(dirname "$0")/../src}"
pattern='(^|[^A-Za-z_:.>])(malloc|calloc|realloc|free|strdup|fopen|fclose|fread|fwrite|open|openat|creat|mkdir|rmdir|unlink|remove|rename|opendir|readdir|tmpnam|mkstemp|exit|abort)[[:space:]]*\(|\bnew[[:space:]]+[A-Za-z_]|\bdelete[[:space:]]|std::(string|vector|map|unordered_map|list|deque|function|make_unique|make_shared|thread|mutex)\b|\bthrow\b|\bstatic[[:space:]]+[A-Za-z_:<>]+[[:space:]]+[A-Za-z_]+[[:space:]]*(=|;|\{)'
hits=$(grep -rnE --include='*.cpp' --include='*.h' "$pattern" "$src" | grep -vE '^\S+:[0-9]+:\s*(//|\*|/\*)' | grep -v 'static constexpr' | grep -v 'static_assert')
if [ -n "$hits" ]; then
  echo "banned calls or state in the filter's sources:"
  echo "$hits"
  exit 1
fi
echo "no banned calls in $src"
