#!/usr/bin/env bash
# Fails when a C++ source file differs from what clang-format makes of it (.clang-format at
# the root, include order included). Fix with: scripts/check_format.sh --fix
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null ||
  find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run -Werror "${files[@]}" 2>/tmp/vg-format.$$; then
  grep -E '^[^ ].*: (warning|error):' /tmp/vg-format.$$ | sort -u | head -40
  rm -f /tmp/vg-format.$$
  echo "Formatting differs from .clang-format in the files above; run scripts/check_format.sh --fix" >&2
  exit 1
fi
rm -f /tmp/vg-format.$$
