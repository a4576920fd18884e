#!/usr/bin/env bash
# The installed manual pages: formatted by man without a single warning, with the sections a
# reader looks for, and orva.1 listing every DBMS type that orva knows.
#   manpages.sh ROOT GUI(0|1)
set -euo pipefail
root=$1 gui=$2
fail=0
pages=(orva)
[[ $gui == 1 ]] && pages+=(worva)
for page in "${pages[@]}"; do
    file=$root/usr/share/man/man1/$page.1.gz
    [[ -f $file ]] || { echo "$file is not installed" >&2; fail=1; continue; }
    gzip -t "$file" || { echo "$file is not a whole gzip file" >&2; fail=1; continue; }
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>"$file.warnings")
    if [[ -s $file.warnings ]]; then
        echo "man --warnings on $page.1:" >&2
        cat "$file.warnings" >&2
        fail=1
    fi
    rm -f "$file.warnings"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "SEE ALSO"; do
        grep -q "^$section" <<<"$text" || { echo "$page.1 has no $section section" >&2; fail=1; }
    done
done

text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/orva.1.gz" 2>/dev/null)
for section in "DBMS TYPES" COMMANDS "EXIT STATUS" ENVIRONMENT EXAMPLES; do
    grep -q "^$section" <<<"$text" || { echo "orva.1 has no $section section" >&2; fail=1; }
done
types=$("$root/usr/bin/orva" 2>/dev/null | sed -n 's/^ \{22\}\([^ \t]*\)\t->  \(.*\)\r$/\1\t\2/p' || true)
[[ -n $types ]] || { echo "orva's usage text lists no types" >&2; exit 1; }
section=$(sed -n '/^DBMS TYPES/,/^COMMANDS/p' <<<"$text")
while IFS=$'\t' read -r keys name; do
    grep -Fq -- "${keys//|/, }" <<<"$section" || { echo "orva.1 lacks the type $keys" >&2; fail=1; }
    grep -Fq -- "$name." <<<"$section" || { echo "orva.1 lacks the name $name" >&2; fail=1; }
done <<<"$types"
for option in -t --type -h --host -P --port -u --user -p --password -d --database -s --schema \
              -c --command -f --file --prompt -v --version --help ORVANTA_PASSWORD VISUAL EDITOR \
              XDG_CONFIG_HOME XDG_STATE_HOME registry.reg buf.sql; do
    grep -Fq -- "$option" <<<"$text" || { echo "orva.1 does not mention $option" >&2; fail=1; }
done
exit $fail
