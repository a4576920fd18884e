#!/usr/bin/env bash
# Builds everything and runs all tests: the normal build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what is missing and starts the
# database servers the tests need (PostgreSQL and MariaDB on 127.0.0.1), stopping them at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

"$ROOT/scripts/setup.sh"

# The test servers; they export ORVANTA_TEST_* variables that the tests read.
if [ -x "$ROOT/tests/dbservers.sh" ]; then
  SERVERS_DIR=$(mktemp -d /tmp/orvanta-servers.XXXXXX)
  trap '"$ROOT/tests/dbservers.sh" stop "$SERVERS_DIR"; rm -rf "$SERVERS_DIR"' EXIT
  eval "$("$ROOT/tests/dbservers.sh" start "$SERVERS_DIR")"
  # The server tests must run here, not skip: a server that did not start fails the run.
  if [ -z "${ORVANTA_TEST_PG_PORT:-}" ] || [ -z "${ORVANTA_TEST_MARIA_PORT:-}" ]; then
    echo "test.sh: the PostgreSQL and MariaDB test servers did not both start" >&2
    exit 1
  fi
fi

echo "== Formatting"
"$ROOT/scripts/check_format.sh"

# The windowed front end is built and tested with the rest; its tests run headless.
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_BUILD_GUI=ON "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
  (cd "$dir" && ctest --output-on-failure -j"$JOBS")
}

echo "== Build and tests"
run_suite "$ROOT/build"
echo "== Build and tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$ROOT/build-asan" -DORVANTA_SANITIZE=ON
echo "== Fuzz targets (clang, libFuzzer with AddressSanitizer + UndefinedBehaviorSanitizer), a short run each"
cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DORVANTA_BUILD_GUI=OFF >/dev/null
cmake --build "$ROOT/build-fuzz" -j"$JOBS" --target fuzz_all
(cd "$ROOT/build-fuzz" && ctest --output-on-failure -j"$JOBS" -L fuzz)
