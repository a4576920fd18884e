#!/usr/bin/env bash
# Prints a 1,000,000-row SQLite table to /dev/null three ways and compares them:
#   orva     orva -t sqlite3 -d FILE -c "select * from t"   (bordered table)
#   isql     unixODBC's isql -b -d'|' over the same SQLite3 ODBC driver (a DSN in a temporary ODBCINI)
#   sqlite3  the sqlite3 shell in .mode box
# For each: wall time, processor time (user + system), peak resident memory and the bytes of the
# printed text. On a busy machine the wall times vary; the processor times are steadier.
# Goals: orva faster than isql, within 1.5x of sqlite3, peak memory at most twice its printed text.
#
#   bench/print_bench.sh [BUILD_DIR] [ROWS]     (defaults: build, 1000000)
# Needs: sqlite3, isql (unixodbc), libsqliteodbc; a built orva in BUILD_DIR/shell/orva.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROWS=${2:-1000000}
ORVA=$BUILD/shell/orva

for tool in sqlite3 isql; do
  command -v "$tool" >/dev/null || { echo "print_bench: $tool is not installed" >&2; exit 2; }
done
[ -x "$ORVA" ] || { echo "print_bench: $ORVA not found (build it first)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/orvanta-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

RUNSTAT=$BUILD/bench/runstat
if [ ! -x "$RUNSTAT" ]; then
  RUNSTAT=$WORK/runstat
  c++ -O2 -o "$RUNSTAT" "$ROOT/bench/runstat.cpp"
fi

DB=$WORK/bench.db
echo "Creating $ROWS rows in $DB ..."
sqlite3 "$DB" <<SQL
create table t(id integer, name varchar(24), city varchar(16), qty integer, price double);
insert into t
  with recursive c(x) as (select 1 union all select x + 1 from c where x < $ROWS)
  select x, 'customer-' || x, substr('Berlin  Paris   Tokyo   Lima    Oslo    ', 1 + (x % 5) * 8, 8),
         x % 1000, (x % 100000) / 4.0
  from c;
SQL

# isql finds its data source through a temporary ODBCINI.
export ODBCINI=$WORK/odbc.ini
cat >"$ODBCINI" <<INI
[orvabench]
Driver=SQLite3
Database=$DB
INI
echo "select * from t" >"$WORK/isql.sql"

QUERY="select * from t"
run() {  # name, then the command; prints "name wall cpu peakKiB exit bytes"
  local name=$1; shift
  local input=/dev/null
  if [ "$name" = isql ]; then input=$WORK/isql.sql; fi
  local stats bytes
  stats=$("$RUNSTAT" -i "$input" "$@")
  bytes=$("$@" <"$input" | wc -c)
  echo "$name $stats $bytes"
}

RESULTS=$WORK/results
{
  run orva "$ORVA" -t sqlite3 -d "$DB" -c "$QUERY"
  run isql isql -b -d'|' orvabench
  run sqlite3 sqlite3 -cmd ".mode box" "$DB" "$QUERY"
} >"$RESULTS"

echo
printf '%-8s %9s %9s %15s %13s %5s\n' tool "wall (s)" "cpu (s)" "peak RSS (MiB)" "output (MiB)" exit
while read -r name secs cpu kib code bytes; do
  awk -v n="$name" -v s="$secs" -v u="$cpu" -v k="$kib" -v b="$bytes" -v c="$code" \
    'BEGIN { printf "%-8s %9.2f %9.2f %15.1f %13.1f %5d\n", n, s, u, k / 1024, b / 1048576, c }'
done <"$RESULTS"

read -r _ o_s o_u o_k _ o_b < <(grep '^orva ' "$RESULTS")
read -r _ i_s i_u _ _ _ < <(grep '^isql ' "$RESULTS")
read -r _ q_s q_u _ _ _ < <(grep '^sqlite3 ' "$RESULTS")
echo
awk -v o="$o_s" -v i="$i_s" -v q="$q_s" -v ou="$o_u" -v iu="$i_u" -v qu="$q_u" -v k="$o_k" -v b="$o_b" 'BEGIN {
  printf "orva vs isql:    %.2fx the wall time, %.2fx the cpu time (goal: below 1)     %s\n", o / i, ou / iu, (o < i) ? "met" : "NOT met"
  printf "orva vs sqlite3: %.2fx the wall time, %.2fx the cpu time (goal: at most 1.5) %s\n", o / q, ou / qu, (o <= 1.5 * q) ? "met" : "NOT met"
  printf "orva memory:     %.2fx its output (goal: at most 2)   %s\n", k * 1024 / b, (k * 1024 <= 2 * b) ? "met" : "NOT met"
}'
