#!/usr/bin/env bash
# The README's copy of the manual page of vaultix-cli is the page as it is now
# (scripts/readme-man.sh makes it).
# usage: readme_man_test.sh SOURCE-DIR
source "$(dirname "$0")/common.sh"
src=$1
command -v groff >/dev/null || skip "groff is not installed"
bash "$src/scripts/readme-man.sh" --print >"$scratch/block" || fail "readme-man.sh --print failed"
first=$(head -n1 "$scratch/block")
awk -v b="$first" '$0 == b { on = 1 } on { print } /^<!-- vaultix-cli\(1\) end -->$/ { on = 0 }' \
  "$src/README.md" >"$scratch/readme"
[ -s "$scratch/readme" ] || fail "README.md has no copy of vaultix-cli(1) between the marker lines"
diff -u "$scratch/readme" "$scratch/block" >"$scratch/diff" ||
  fail "README.md's copy of vaultix-cli(1) is out of date (run scripts/readme-man.sh):
$(head -n 20 "$scratch/diff")"
finish
