#!/usr/bin/env bash
# Start and end of orva (load settings and history, save them at exit) with a large settings file
# of SIZE bytes (values of another program's key beside orva's own): wall and processor time,
# peak memory. Goal: the file is read and parsed once at start and once more under the lock at
# exit, whatever the number of settings read and written, so the time grows with the size only
# (well under a second for 4 MB, the largest file taken as settings).
#
#   bench/settings_bench.sh [BUILD_DIR] [SIZE]     (defaults: build, 3800000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build}
SIZE=${2:-3800000}
ORVA=$BUILD/shell/orva
DIR=$(mktemp -d /tmp/orvanta-settings-bench.XXXXXX)
trap 'rm -rf "$DIR"' EXIT
mkdir -p "$DIR/config/orvanta"
python3 - "$DIR/config/orvanta/registry.reg" "$SIZE" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
lines = ['Windows Registry Editor Version 5.00', '', '[HKEY_CURRENT_USER\\Software\\Other]']
total, i = 0, 0
while total < size:
    line = '"value %d"="some text of a hand-kept setting %d"' % (i, i)
    lines.append(line); total += len(line) + 1; i += 1
open(path, 'w').write('\n'.join(lines) + '\n')
PY
export XDG_CONFIG_HOME=$DIR/config XDG_STATE_HOME=$DIR/state
printf 'settings file %d bytes\n' "$(stat -c %s "$DIR/config/orvanta/registry.reg")"
/usr/bin/time -f "orva start and exit: %e s wall, %U s user, %S s system, %M KB peak" \
  sh -c "printf 'select 1;\nexit\n' | '$ORVA' -t sqlite3 -d '$DIR/x.db' >/dev/null"
