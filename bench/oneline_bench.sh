#!/usr/bin/env bash
# Statements on one line: orva reads a generated one-line SQL file of N short INSERTs into a
# SQLite table (synchronous off, so the disk does not set the pace) and prints, for growing N,
# wall time, processor time and peak resident memory. Goal: both grow linearly with N (the time
# per statement and the memory per byte of the line stay flat), and every row arrives.
#
#   bench/oneline_bench.sh [BUILD_DIR]     (default: build)
# Needs: sqlite3, libsqliteodbc; a built orva and runstat in BUILD_DIR.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ORVA=$BUILD/shell/orva
[ -x "$ORVA" ] || { echo "oneline_bench: $ORVA not found (build it first)" >&2; exit 2; }
WORK=$(mktemp -d /tmp/orvanta-oneline.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
RUNSTAT=$BUILD/bench/runstat
if [ ! -x "$RUNSTAT" ]; then
  RUNSTAT=$WORK/runstat
  c++ -O2 -o "$RUNSTAT" "$ROOT/bench/runstat.cpp"
fi

printf '%8s %10s %8s %8s %10s %8s\n' statements line_bytes wall_s cpu_s peak_KiB rows
for n in 5000 15000 45000; do
  db=$WORK/t$n.db
  sqlite3 "$db" 'create table m(k integer)'
  { printf 'pragma synchronous = off;'; seq 1 "$n" | sed 's/.*/ insert into m values (&);/' | tr -d '\n'; echo; } > "$WORK/in$n.sql"
  read -r wall cpu peak code < <(XDG_CONFIG_HOME=$WORK/cfg XDG_STATE_HOME=$WORK/state \
                                  "$RUNSTAT" -i "$WORK/in$n.sql" "$ORVA" -t sqlite3 -d "$db")
  rows=$(sqlite3 "$db" 'select count(*) from m')
  printf '%8d %10d %8s %8s %10s %8s\n' "$n" "$(stat -c %s "$WORK/in$n.sql")" "$wall" "$cpu" "$peak" "$rows"
  [ "$code" = 0 ] || echo "oneline_bench: orva ended with $code" >&2
done
