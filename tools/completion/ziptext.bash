# ziptext.bash - bash completion for ziptext
#
# The options and what each takes come from `ziptext --help` at completion
# time, so this file never holds a second list of them: an option line of
# --help ("  -o, --output OUT    output file") names the option, its short
# form and its argument; FILE, OUT and DIR complete paths, a|b|c the words.

_ziptext() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local help line arg="" takes=0
    help=$("${COMP_WORDS[0]}" --help 2>/dev/null) || return 0
    local re='^ +(-[a-zA-Z], )?(--[a-z-]+)( ([^ ]+))?( {2,}|$)'
    if [[ $prev == -* ]]; then
        while IFS= read -r line; do
            if [[ $line =~ $re ]] && [[ $prev == "${BASH_REMATCH[2]}" || "${BASH_REMATCH[1]}" == "$prev, " ]]; then
                arg=${BASH_REMATCH[4]} takes=1
                break
            fi
        done <<<"$help"
    fi
    COMPREPLY=()
    if [[ $takes == 1 && -n $arg ]]; then
        case $arg in
            *'|'*) mapfile -t COMPREPLY < <(compgen -W "${arg//|/ }" -- "$cur") ;;
            FILE | OUT) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
            DIR) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
        esac
        return 0
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$(grep -oE -- '(^|[][ ,])--?[a-zA-Z][a-z-]*' <<<"$help" | tr -d '[], ' | sort -u)
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return 0
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    if [[ $COMP_CWORD == 1 ]]; then
        mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -W list -- "$cur")
    fi
}
complete -F _ziptext ziptext
