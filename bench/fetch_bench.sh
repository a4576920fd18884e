#!/usr/bin/env bash
# Fetches a 1,000,000-row, 5-column SQLite table (integer, text, decimal, timestamp, nullable
# text) into a recordset and walks it, beside unixODBC's isql reading the same table through the
# same driver. Prints rows per second and peak memory for both, and the size of the result as
# text (what isql prints). Goals: faster than isql; memory at most twice the result as text.
#
# Both readers use the driver's StepAPI=1, so the driver steps through the result instead of
# materialising all of it in its own memory first (with StepAPI=0 the driver alone holds about
# four times the text, whichever program reads it).
#
#   bench/fetch_bench.sh [BUILD_DIR] [ROWS]     (defaults: build, 1000000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROWS=${2:-1000000}
FETCH=$BUILD/bench/fetch_bench
RUNSTAT=$BUILD/bench/runstat
for tool in sqlite3 isql; do
  command -v "$tool" >/dev/null || { echo "fetch_bench: $tool is not installed" >&2; exit 2; }
done
[ -x "$FETCH" ] && [ -x "$RUNSTAT" ] || { echo "fetch_bench: build the bench targets in $BUILD first" >&2; exit 2; }

WORK=$(mktemp -d /tmp/orvanta-fetch.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
DB=$WORK/fetch.db
echo "Creating $ROWS rows in $DB ..."
sqlite3 "$DB" <<SQL
create table t(id integer, name varchar(32), amount decimal(12,2), created timestamp, note varchar(40));
insert into t
  with recursive c(x) as (select 1 union all select x + 1 from c where x < $ROWS)
  select x, 'customer-' || x, (x % 100000) / 100.0,
         datetime(1700000000 + x * 37, 'unixepoch'),
         case when x % 3 = 0 then null else 'note ' || (x % 977) end
  from c;
SQL

export ODBCINI=$WORK/odbc.ini
printf "[orvafetch]\nDriver=SQLite3\nDatabase=%s\nStepAPI=1\n" "$DB" >"$ODBCINI"
echo "select * from t" >"$WORK/isql.sql"

read -r rows fetch walk rate peak storage < <("$FETCH" "Driver={SQLite3};Database=$DB;StepAPI=1;" "select * from t")
read -r i_wall i_cpu i_peak _ < <("$RUNSTAT" -i "$WORK/isql.sql" isql -b -d'|' orvafetch)
text=$(isql -b -d'|' orvafetch <"$WORK/isql.sql" | wc -c)

awk -v r="$rows" -v f="$fetch" -v w="$walk" -v rate="$rate" -v p="$peak" -v s="$storage" \
    -v iw="$i_wall" -v ip="$i_peak" -v t="$text" 'BEGIN {
  printf "%-10s %12s %12s %16s\n", "reader", "wall (s)", "rows/s", "peak RSS (MiB)"
  printf "%-10s %12.2f %12.0f %16.1f   (fetch %.2f s, walk %.2f s, rows kept in %.1f MiB)\n", "recordset", f + w, rate, p / 1024, f, w, s / 1048576
  printf "%-10s %12.2f %12.0f %16.1f\n", "isql", iw, r / iw, ip / 1024
  printf "\nresult as text: %.1f MiB\n", t / 1048576
  printf "recordset vs isql: %.2fx the time (goal: below 1)  %s\n", (f + w) / iw, (f + w < iw) ? "met" : "NOT met"
  printf "recordset memory:  %.2fx the result as text (goal: at most 2)  %s\n", p * 1024 / t, (p * 1024 <= 2 * t) ? "met" : "NOT met"
}'
