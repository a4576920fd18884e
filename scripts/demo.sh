#!/usr/bin/env bash
# Builds Orvanta and opens orva on the embedded SQLite demo database.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$ROOT/build" -j"$(nproc)" --target orva demo_db
DEMO_DB="$ROOT/build/demo.db"
exec "$ROOT/build/shell/orva" -t sqlite3 -d "$DEMO_DB" "$@"
