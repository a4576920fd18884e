#!/usr/bin/env bash
# Runs the fuzz targets for longer than the tests do: fuzz/run.sh [seconds] [target...]
# Builds them with clang in build-fuzz, keeps what each finds in build-fuzz/fuzz/work/<target>
# (the repository's seeds are only read) and prints the executions of each run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_EACH=${1:-300}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(settings xml decoder criteria textfile words cmdline controlblock splitter)

cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DORVANTA_BUILD_GUI=OFF >/dev/null
cmake --build "$ROOT/build-fuzz" -j"${JOBS:-$(nproc)}" --target fuzz_all

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${TARGETS[@]}"; do
  work="$ROOT/build-fuzz/fuzz/work/$t"
  mkdir -p "$work"
  echo "== $t ($SECONDS_EACH s)"
  "$ROOT/build-fuzz/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$ROOT/build-fuzz/fuzz/$t-" "$work" "$ROOT/fuzz/corpus/$t" 2>&1 |
    grep -E "stat::number_of_executed_units|^Done|ERROR|SUMMARY|crash-|Test unit written" || true
done
