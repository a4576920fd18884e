#!/usr/bin/env bash
# orva's bash completion as installed: the completion function is driven the way bash drives it
# on Tab, and its candidates are checked.
#   completion.sh ROOT   (ROOT: the unpacked packages)
set -euo pipefail
root=$(realpath "$1")
script=$root/usr/share/bash-completion/completions/orva
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# Candidates, sorted, one per line, for the cursor at the end of LINE. Words are split as bash
# splits them for completion ('=' is a word of its own).
candidates() {
    (cd "$work/files" && bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        compopt() { :; }  # options for readline; only valid while bash itself completes
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"${COMP_LINE//=/ = }"
        [[ $COMP_LINE == *[\ =] ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _orva orva "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort
        true' _ "$script" "$1")
}

expect() {  # LINE EXPECTED (newline-separated, sorted)
    local got
    got=$(candidates "$1")
    if [[ $got != "$2" ]]; then
        printf 'completion of "%s":\n  expected: %s\n  got:      %s\n' "$1" "$(echo $2)" "$(echo $got)" >&2
        fail=1
    fi
}

# The types orva itself lists in its usage text ("fdb|gdb" is two keys).
types=$("$root/usr/bin/orva" 2>/dev/null | sed -n 's/^ \{22\}\([^ \t]*\)\t->.*/\1/p' | tr '|' '\n' | sort || true)
if [[ $(wc -l <<<"$types") -ne 26 ]]; then
    echo "orva's usage text did not list the 26 type keys: $types" >&2
    exit 1
fi

# bash-completion loads the script on the first Tab after orva from where it is installed.
loaded=$(PATH="$root/usr/bin:$PATH" XDG_DATA_DIRS="$root/usr/share" bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    __load_completion orva && complete -p orva' 2>&1 || true)
[[ $loaded == "complete -F _orva orva" ]] || { echo "bash-completion does not load orva's completion: $loaded" >&2; fail=1; }

mkdir -p "$work/files/sub"
touch "$work/files/"{a.db,b.db3,C.DB,notes.txt,q.xls,r.xlsx,s.xlsm,script.sql}

expect "orva -t " "$types"
expect "orva --type " "$types"
expect "orva --type=my" "mysql"
expect "orva -t SQ" "sqlite3"
expect "orva -tsq" "-tsqlite3"
expect "orva -t f" "$(printf 'fdb\n')"
expect "orva -t sqlite3 -d " "$(printf 'C.DB\na.db\nb.db3\nsub\n')"
expect "orva --type=xlsx --database " "$(printf 'r.xlsx\ns.xlsm\nsub\n')"
expect "orva -tsqlite3 -d a" "a.db"
expect "orva -t pgsql -d " ""
expect "orva -d " ""
expect "orva -t sqlite3 -f " "$(printf 'C.DB\na.db\nb.db3\nnotes.txt\nq.xls\nr.xlsx\ns.xlsm\nscript.sql\nsub\n')"
expect "orva --ty" "--type="
expect "orva -t pgsql -p " ""
expect "orva -t pgsql -p --us" "--user="
expect "orva -P " ""
exit $fail
