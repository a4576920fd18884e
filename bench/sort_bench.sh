#!/usr/bin/env bash
# SetSort on a text column of ROWS rows (mixed case, non-ASCII letters, so the case-blind order
# has folding to do), read from an in-memory SQLite result. Prints "<rows> ... <sort s>" as
# fetch_bench does; the last figure is the sort.
#
#   bench/sort_bench.sh [BUILD_DIR] [ROWS]     (defaults: build, 1000000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
ROWS=${2:-1000000}
"$BUILD/bench/fetch_bench" "Driver={SQLite3};Database=:memory:;" \
  "with recursive n(x) as (select 1 union all select x + 1 from n where x < $ROWS) select x, case x % 3 when 0 then 'Äpfel ' when 1 then 'ÖL ' else 'zebra ' end || ((x * 7919) % 100003) as name from n" \
  name
