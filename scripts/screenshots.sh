#!/usr/bin/env bash
# Takes the screenshots in docs/ (the window with a result, a table with Chinese, Japanese and
# Korean text, the connect dialog and the About box) on a virtual X server with a window manager,
# so that they show what a user sees. Rerun it after changing the window's look.
#
#   scripts/screenshots.sh [build-dir]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${1:-$ROOT/build}
"$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_BUILD_GUI=ON >/dev/null
cmake --build "$BUILD" -j2 --target worva_bench orva demo_db >/dev/null

# A free display number.
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
WM=""
cleanup() {
  [ -n "$WM" ] && kill "$WM" 2>/dev/null || true
  kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
WM=$!
sleep 1

# Text in UTF-8 whatever the caller's locale; settings of a throw-away home.
export LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb
BENCH="$BUILD/gui/worva_bench"
DB="$BUILD/demo.db"
"$BENCH" --shot window --screenshot "$ROOT/docs/worva.png" --database "$DB" \
  --query "select id, name, city, country, joined from customers;"
"$BENCH" --shot cjk --screenshot "$ROOT/docs/worva-cjk.png" --database "$DB"
"$BENCH" --shot connect --screenshot "$ROOT/docs/worva-connect.png" --database "$DB"
"$BENCH" --shot about --screenshot "$ROOT/docs/worva-about.png" --database "$DB"
