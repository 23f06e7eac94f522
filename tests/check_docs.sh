#!/usr/bin/env bash
# check_docs.sh ZIPTEXT MAN_PAGE|"" COMPLETION_SCRIPT - every option --help names is in the man page (when one was
# made) and offered by the completion; an option's argument completes as --help says.
set -uo pipefail
tool=$1 man=$2 completion=$3 fail=0
options=$("$tool" --help | grep -oE -- '(^|[][ ,])--?[a-zA-Z][a-z-]*' | tr -d '[], ' | sort -u)
[ "$(wc -l <<<"$options")" -ge 10 ] || { echo "too few options in --help: $options"; exit 1; }
page=$([ -n "$man" ] && sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$man")
for o in $options; do
    [ -z "$man" ] || grep -qe "$o\\b" <<<"$page" || { echo "man page lacks $o"; fail=1; }
done
source "$completion"
expect() { # WANT WORDS...: completing the last word gives WANT
    local want=$1 got
    shift
    COMP_WORDS=("$tool" "$@") COMP_CWORD=$#
    _ziptext
    got=$([ "${#COMPREPLY[@]}" -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    [ "$got" == "$want" ] || { echo "completing [$*]: got [$got], want [$want]"; fail=1; }
}
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT
mkdir "$dir/sub" && touch "$dir/a.zip" "$dir/b.txt"
expect "$(tr '\n' ' ' <<<"$options")" -
expect "--out-dir --output " --ou
expect "cr crlf lf " --eol ""
expect "$dir/a.zip $dir/b.txt $dir/sub " -o "$dir/"
expect "$dir/sub " --out-dir "$dir/"
expect "" --jobs ""
expect "$dir/a.zip " --quiet "$dir/a"
expect "list " li
exit $fail
