#!/usr/bin/env bash
# Copies the manual page of vaultix-cli into the README, as the text a
# terminal shows (80 columns), between the README's two marker lines.  The
# page (docs/man/vaultix-cli.1) is the one source; tests/install's
# readme_man_test.sh fails when the copy is out of date.
#   scripts/readme-man.sh          rewrite README.md
#   scripts/readme-man.sh --print  print the block instead
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
begin='<!-- vaultix-cli(1) begin: made by scripts/readme-man.sh from docs/man/vaultix-cli.1 -->'
end='<!-- vaultix-cli(1) end -->'
block() {
  echo "$begin"
  echo '```text'
  # -P-cbou: plain text without overstriking; no hyphenation, ragged right
  # (-dAD=l), 78 columns; a word longer than a line breaks nothing (-Wbreak).
  LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P-cbou -rLL=78n -rHY=0 -dAD=l -Wbreak "$root/docs/man/vaultix-cli.1" |
    sed -e 's/[[:space:]]*$//' | cat -s
  echo '```'
  echo "$end"
}
if [ "${1:-}" = --print ]; then
  block
  exit 0
fi
readme=$root/README.md
grep -qxF "$begin" "$readme" && grep -qxF "$end" "$readme" || {
  echo "readme-man.sh: the marker lines are missing in $readme" >&2
  exit 1
}
new=$(mktemp)
trap 'rm -f "$new"' EXIT
awk -v b="$begin" -v e="$end" -v f=<(block) '
  $0 == b { while ((getline line < f) > 0) print line; skip = 1; next }
  $0 == e { skip = 0; next }
  !skip { print }' "$readme" >"$new"
cat "$new" >"$readme"
