#!/usr/bin/env bash
# Builds the Debian packages with cpack, checks their dependencies, unpacks them with dpkg -x into
# a scratch root and runs the unpacked orva against a copy of the demo database.
#   packages.sh BUILD_DIR WORK_DIR VERSION GUI(0|1)
# Leaves WORK_DIR/root for the tests that check the installed files.
set -euo pipefail
build=$1 work=$2 version=$3 gui=$4
fail=0
problem() { echo "$*" >&2; fail=1; }

rm -rf "$work"
mkdir -p "$work/pkg" "$work/root" "$work/home"
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    exit 1
fi

components=(library development shell)
[[ $gui == 1 ]] && components+=(gui)
declare -A deb
for c in "${components[@]}"; do
    deb[$c]=$(ls "$work/pkg"/orvanta-"$version"-*-"$c".deb 2>/dev/null || true)
    [[ -f ${deb[$c]} ]] || { echo "no package for the component $c in $work/pkg" >&2; exit 1; }
done

# FIELD of a package's control data must hold each of the given entries (", "-separated).
expect_field() {
    local file=$1 field=$2 value
    shift 2
    value=$(dpkg-deb -f "$file" "$field")
    for want in "$@"; do
        [[ ", $value," == *", $want"[\ ,]* ]] || problem "$(basename "$file"): $field lacks '$want': $value"
    done
}
expect_field "${deb[library]}" Package libzentra3
expect_field "${deb[library]}" Depends libodbc2 libedit2 libxml2 libstdc++6
expect_field "${deb[library]}" Recommends libsqliteodbc odbc-postgresql odbc-mariadb
expect_field "${deb[development]}" Package libzentra-dev
expect_field "${deb[development]}" Depends "libzentra3 (= $version)"
expect_field "${deb[shell]}" Package orvanta
expect_field "${deb[shell]}" Depends "libzentra3 (= $version)"
if [[ $gui == 1 ]]; then
    expect_field "${deb[gui]}" Package worva
    expect_field "${deb[gui]}" Depends "orvanta (= $version)" "libzentra3 (= $version)" libqt6widgets6 qt6-qpa-plugins
fi
for c in "${components[@]}"; do
    dpkg-deb -x "${deb[$c]}" "$work/root"
done

# The unpacked programs find libzentra in the root through their runpath, not in the build tree.
for program in orva $([[ $gui == 1 ]] && echo worva); do
    path=$work/root/usr/bin/$program
    [[ -x $path ]] || { problem "$program is not in the package root"; continue; }
    runpath=$(readelf -d "$path" | sed -n 's/.*R\(UN\)\?PATH.*\[\(.*\)\]/\2/p')
    [[ $runpath == \$ORIGIN/* ]] || problem "$program: runpath '$runpath' is not relative to the program"
    lib=$(env -u LD_LIBRARY_PATH ldd "$path" | sed -n 's/.*libzentra\.so\.3 => \([^ ]*\).*/\1/p')
    [[ $(realpath -m "$lib") == "$(realpath "$work/root")"/* ]] || problem "$program loads libzentra from '$lib'"
    env -u LD_LIBRARY_PATH ldd "$path" | grep -q "not found" && problem "$program: $(ldd "$path" | grep "not found")"
done
[[ -f $work/root/usr/share/doc/orvanta/README.md ]] || problem "the README is not in /usr/share/doc/orvanta"

# The unpacked orva on a copy of the demo database, in an environment without the build tree.
cp "$build/demo.db" "$work/demo.db"
output=$(cd "$work" && env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    "$work/root/usr/bin/orva" -t sqlite3 -d "$work/demo.db" \
    -c "select id, name from customers where country <> 'Danmark' order by id;" </dev/null | tr -d '\r') ||
    problem "orva ended with $?"
expected=$(sqlite3 "$work/demo.db" "select id, name from customers where country <> 'Danmark' order by id")
count=$(wc -l <<<"$expected")
while IFS='|' read -r id name; do
    grep -Eq "^\| *[0-9]+ \| +$id \| $name +\|$" <<<"$output" || problem "orva's output lacks the row $id, $name"
done <<<"$expected"
grep -q "^Query Okay, $count rows in set" <<<"$output" || problem "orva did not report $count rows"
grep -q "Zoë" <<<"$output" && problem "orva printed a row the WHERE clause excludes"
[[ $fail == 0 ]] || printf '%s\n' "$output" >&2
exit $fail
