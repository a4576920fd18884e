#!/usr/bin/env bash
# The README's example program, built against the installed development files, once with
# pkg-config and once with find_package(zentra), and run on a copy of the demo database; what
# it prints and what it wrote are checked with the sqlite3 shell.
#   sdk.sh ROOT README DEMO_DB
set -euo pipefail
root=$1 readme=$2 demo=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# The first fenced block of the given language in the README.
block() { awk -v lang="$1" '$0 == "```" lang { on = 1; next } on && $0 == "```" { exit } on' "$readme"; }
block cpp >"$work/customers.cpp"
block cmake >"$work/CMakeLists.txt"
[[ -s $work/customers.cpp && -s $work/CMakeLists.txt ]] || { echo "the README has no C++ or CMake example" >&2; exit 1; }

libdir=$(dirname "$(find "$root/usr/lib" -name libzentra.so.3 | head -n 1)")
pcdir=$(dirname "$(find "$root/usr/lib" -name zentra.pc | head -n 1)")

check_run() {  # PROGRAM: runs it on a fresh copy of the demo database and checks the result
    local program=$1 db=$work/demo-$RANDOM.db output expected
    cp "$demo" "$db"
    [[ $(sqlite3 "$db" "select city from customers where name like 'A%'") != Lyon ]] ||
        { echo "the demo database already has the example's change" >&2; exit 1; }
    output=$(env -u LD_LIBRARY_PATH "${@:2}" "$program" "$db") || { echo "$program ended with $?" >&2; fail=1; return; }
    expected=$(sqlite3 "$db" "select id, name, city from customers order by id")
    [[ $output == "$expected" ]] || { printf '%s printed:\n%s\nsqlite3 reads:\n%s\n' "$program" "$output" "$expected" >&2; fail=1; }
    [[ $(sqlite3 "$db" "select city from customers where name like 'A%'") == Lyon ]] ||
        { echo "$program did not move the A customers to Lyon" >&2; fail=1; }
}

# pkg-config, as the README shows it.
if c++ -std=c++20 -o "$work/customers-pc" "$work/customers.cpp" \
        $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs zentra); then
    check_run "$work/customers-pc" env LD_LIBRARY_PATH="$libdir"
else
    echo "the example does not build with pkg-config" >&2
    fail=1
fi

# find_package(zentra), from the README's CMakeLists.txt.
if cmake -S "$work" -B "$work/build" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 &&
        cmake --build "$work/build" >>"$work/cmake.log" 2>&1; then
    check_run "$work/build/customers"
else
    cat "$work/cmake.log" >&2
    echo "the example does not build with find_package(zentra)" >&2
    fail=1
fi
exit $fail
