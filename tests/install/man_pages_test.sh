#!/usr/bin/env bash
# The man pages format without a single groff warning, and vaultix-cli(1)
# documents every option and every exit-code text the program has.
# usage: man_pages_test.sh SOURCE-DIR VAULTIX-CLI
source "$(dirname "$0")/common.sh"
src=$1 cli=$2
command -v groff >/dev/null || skip "groff is not installed"

for page in "$src"/docs/man/*.1; do
  # -k: the pages are UTF-8 (preconv); -ww: every warning; -z: no output.
  warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  head=$(grep -m1 '^\.TH ' "$page" | awk '{print tolower($2) "." $3}')
  [ "$head" = "$(basename "$page")" ] || fail "$(basename "$page"): .TH says $head"
done

# The page as a reader sees it, one paragraph a line (no wrapping, no hyphens).
text=$(groff -k -man -Tutf8 -P-cbou -rLL=5000n -rHY=0 "$src/docs/man/vaultix-cli.1" 2>/dev/null)
help=$("$cli" --help) || fail "vaultix-cli --help failed"

while read -r option; do
  grep -qF -- "$option" <<<"$text" || fail "vaultix-cli.1 lacks option $option"
done < <(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u)

# EXIT CODES of --help: "  NN  Text (meaning)"; the text must be in the page.
codes=0
while IFS= read -r line; do
  code=$(awk '{print $1}' <<<"$line")
  msg=$(sed -E 's/^ *[0-9]+  //; s/ \(.*$//' <<<"$line")
  codes=$((codes + 1))
  [ "$code" = 0 ] && continue  # "success" is no text of the program
  grep -qF -- "$msg" <<<"$text" || fail "vaultix-cli.1 lacks the text of exit code $code: $msg"
done < <(sed -n '/^EXIT CODES/,/^$/p' <<<"$help" | grep -E '^ +[0-9]+  ')
((codes >= 18)) || fail "only $codes exit codes found in --help"

for section in SCHEDULES "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
  grep -q "^$section" <<<"$text" || fail "vaultix-cli.1 lacks the section $section"
done
finish
