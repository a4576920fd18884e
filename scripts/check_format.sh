#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what clang-format makes of it under the
# project's .clang-format (scripts/check_format.sh --fix rewrites them instead).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror --style=file "${files[@]}" 2>/tmp/orvanta-format.$$; then
  grep -E '^[^ ].*(warning|error):' /tmp/orvanta-format.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /' >&2
  rm -f /tmp/orvanta-format.$$
  echo "check_format: run scripts/check_format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/orvanta-format.$$
