#!/usr/bin/env bash
# The bash completion of vaultix-cli: operations, the options of each
# operation and their values, files, and the names of the schedules; and it
# offers no option the program does not have, and misses none it has.
# usage: completion_test.sh SOURCE-DIR VAULTIX-CLI
source "$(dirname "$0")/common.sh"
src=$1 cli=$2
source "$src/data/vaultix-cli.bash"

# Completes the last word of the command line given as words (an empty last
# word completes after a blank) and prints the candidates sorted, one a line.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _vaultix_cli
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

expect() {  # expect "WANTED|WORDS" WORD...
  local want got
  want=$(tr '|' '\n' <<<"$1" | sed '/^$/d' | sort)
  shift
  got=$(complete_line "$@")
  [ "$got" = "$want" ] || fail "'$*': got [$(echo $got)], want [$(echo $want)]"
}

mkdir -p "$scratch/jobs/sub dir" "$scratch/arc"
touch "$scratch/jobs/daily.set" "$scratch/jobs/notes.txt"
# A job that can run (schedule refuses others): the desktop program's mark,
# an include entry, a destination.
printf '[ID]\nVelmora=1\n[Include]\nFiles0=%s/*.* /S\n[Where]\nLocation=%s/\n' \
  "$scratch/jobs" "$scratch/arc" >"$scratch/jobs/daily.sqt"

# words, "|" between ("" for none)            command line
expect "backup"                       vaultix-cli ba
expect "schedule|schedules"           vaultix-cli sche
expect "catalog|comment"              vaultix-cli c
expect "--help"                       vaultix-cli --he
expect "--restore-to|--restore-mode|--recurse" vaultix-cli restore --re
expect "--destination"                vaultix-cli backup --set x --de
expect "--compress|--comment"         vaultix-cli backup --com
expect ""                             vaultix-cli catalog --comp
expect "none|quick|max"               vaultix-cli backup --compress ""
expect "incremental"                  vaultix-cli backup --mode in
expect "newer|newer-and-new"          vaultix-cli restore --restore-mode ne
expect "--daily"                      vaultix-cli schedule --d
expect "--keep-logs"                  vaultix-cli schedule --job x --daily 01:00 --k
expect ""                             vaultix-cli schedule --random-delay ""
expect "sat|sun"                      vaultix-cli schedule --job x --weekly s
expect ""                             vaultix-cli backup --archive ""
expect "$scratch/jobs/daily.sqt|$scratch/jobs/daily.set" vaultix-cli verify --set "$scratch/jobs/da"
expect "$scratch/jobs/daily.sqt|$scratch/jobs/sub dir" vaultix-cli schedule --job "$scratch/jobs/"
expect "$scratch/jobs/sub dir"        vaultix-cli restore --restore-to "$scratch/jobs/"
expect "$scratch/jobs/notes.txt"      vaultix-cli backup --include x "$scratch/jobs/n"

# Schedule names come from the program (no user manager: a systemctl that
# always fails stands in for it).
mkdir -p "$scratch/bin"
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/systemctl"
chmod +x "$scratch/bin/systemctl"
ln -s "$cli" "$scratch/bin/vaultix-cli"
export PATH="$scratch/bin:$PATH" XDG_CONFIG_HOME="$scratch/config" VAULTIX_STATE_DIR="$scratch/state"
for name in daily weekly; do
  vaultix-cli schedule --job "$scratch/jobs/daily.sqt" --daily 01:00 --name "$name" >/dev/null ||
    fail "schedule $name failed"
done
expect "daily"                        vaultix-cli unschedule d
expect "daily|weekly"                 vaultix-cli unschedule ""
expect ""                             vaultix-cli unschedule daily ""

# Every option of --help is offered for some operation, and nothing else.
offered=$(for op in backup restore verify catalog comment delete schedule; do
  complete_line vaultix-cli "$op" --
done | sort -u)
documented=$(grep -oE -- '--[a-z][a-z-]+' <<<"$("$cli" --help)" | sort -u)
missing=$(comm -13 <(echo "$offered") <(echo "$documented") | grep -vx -- '--version')
extra=$(comm -23 <(echo "$offered") <(echo "$documented"))
[ -z "$missing" ] || fail "not completed: $(echo $missing)"
[ -z "$extra" ] || fail "completed but unknown to --help: $(echo $extra)"
finish
