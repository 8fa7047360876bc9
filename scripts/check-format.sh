#!/usr/bin/env bash
# Checks that every tracked C++ source is formatted as .clang-format says
# (clang-format --dry-run -Werror); changes nothing.  Exits non-zero and names
# the files when one is not.  VAULTIX_SKIP_FORMAT_CHECK=1 skips the check.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${VAULTIX_SKIP_FORMAT_CHECK:-0}" = 1 ]; then
  echo "format check skipped (VAULTIX_SKIP_FORMAT_CHECK=1)"
  exit 0
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
  printf 'not formatted: %s\n' "${bad[@]}" >&2
  echo "format check: ${#bad[@]} of ${#files[@]} files differ from .clang-format (clang-format -i FILE)" >&2
  exit 1
fi
echo "format check: ${#files[@]} files formatted"
