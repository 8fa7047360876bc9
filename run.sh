#!/usr/bin/env bash
# Builds Vaultix (release preset) and then
#   ./run.sh                      runs the sample job: a backup of a sample folder
#                                 into sample-backup/, its catalog, a verify and a
#                                 redirected restore, printing the log summaries;
#   ./run.sh <op> --set FILE ...  runs one vaultix-cli operation with these
#                                 arguments and exits with its result code;
#   ./run.sh package              builds the Debian packages vaultix-cli and
#                                 vaultix (CPack) into build/release/ and
#                                 prints their names.
#   ./run.sh desktop [JOB.sqt]    starts the desktop program (a job file named
#                                 after it is loaded and run up to "Štart!").
# Installs what building and running need on Debian 12 first
# (scripts/install-deps.sh: the build group, Qt for package and desktop,
# dpkg-dev for package); the test suite's tools and servers are ./test.sh's.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

mode=cli
case ${1-} in package | desktop) mode=$1 ;; esac
# Build output goes to stderr, so that "./run.sh catalog ..." prints only
# the catalog on stdout.
{
  case $mode in
    cli) bash scripts/install-deps.sh build ;;
    desktop) bash scripts/install-deps.sh build desktop ;;
    package) bash scripts/install-deps.sh build desktop package ;;
  esac
  # The command line alone needs no Qt; the desktop program is built when
  # Qt is there (always for package and desktop).
  ui=OFF
  if [ "$mode" != cli ] || dpkg-query -W -f='${Status}' qt6-base-dev 2>/dev/null | grep -q "ok installed"; then
    ui=ON
  fi
  cmake --preset release -DVAULTIX_UI=$ui >/dev/null
  if [ "$mode" = cli ]; then
    cmake --build --preset release -j "$(nproc)" --target vaultix-cli
  else
    cmake --build --preset release -j "$(nproc)"
  fi
} >&2
cli=$root/build/release/src/cli/vaultix-cli

if [ "$mode" = package ]; then
  rm -f build/release/vaultix_*.deb build/release/vaultix-cli_*.deb
  cpack --preset release >&2
  for deb in build/release/vaultix-cli_*.deb build/release/vaultix_*.deb; do
    dpkg-deb -f "$deb" Package Version Depends
    echo "package: $root/$deb"
  done
  exit 0
fi

if (($#)) && [ "$1" = desktop ]; then
  shift
  exec "$root/build/release/src/app/vaultix" "$@"
fi
if (($#)); then
  exec "$cli" "$@"
fi

# ---- The sample job ---------------------------------------------------------

# A set-file text value: bytes outside 32..128, the apostrophe and the
# backslash are written as \xNN.
escape() {
  local LC_ALL=C s=$1 out='' c code i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    printf -v code '%d' "'$c"
    ((code < 0)) && code=$((code + 256))
    if ((code >= 32 && code <= 128 && code != 39 && code != 92)); then
      out+=$c
    else
      printf -v c '\\x%02X' "$code"
      out+=$c
    fi
  done
  printf '%s' "$out"
}

work=$root/sample-backup
rm -rf "$work"
mkdir -p "$work/source" "$work/archive"
for item in README.md docs src; do
  [ -e "$item" ] && cp -r "$item" "$work/source/"
done
# The archive-attribute store of the sample stays inside the sample folder.
export VAULTIX_STATE_DIR=$work/state

set_file=$work/sample.set
cat >"$set_file" <<EOF
[VAULTRex]
Magicnumber=2059128029
Comment=$(escape "Ukážková záloha $(date '+%Y-%m-%d %H:%M')")
CompressData=1
IncludeNames=$(escape "$work/source/*.* /S")\x09
BackupDestination=$(escape "$work/archive/")
ArchiveBaseName=sample.arc
HandleOpenErrors=1
RestoreTo=$(escape "$work/restored/")
EOF

step() { printf '\n==== %s\n' "$*"; }
status=0

step "backup of $work/source into $work/archive/sample.arc"
"$cli" backup --quiet --set "$set_file" --log "$work/backup.log" || status=$?
# The summary comes first in a new log, the per-file lines after it.
tr -d '\r' <"$work/backup.log" | sed -n '/^Súbor /q;p'
[ "$status" -eq 0 ] || exit "$status"

step "catalog (size, checksum, attributes, time, path; first 10 of $("$cli" catalog --set "$set_file" | wc -l) lines)"
"$cli" catalog --set "$set_file" >"$work/catalog.txt"
head -n 10 "$work/catalog.txt"
printf 'comment: '
"$cli" comment --set "$set_file"

step "verify against the source folder"
"$cli" verify --quiet --set "$set_file" --log "$work/verify.log" || status=$?
tr -d '\r' <"$work/verify.log" | grep -v ' bez chýb$'
[ "$status" -eq 0 ] || exit "$status"

step "restore of every file into $work/restored"
"$cli" restore --quiet --set "$set_file" --all --restore-to "$work/restored" --log "$work/restore.log" || status=$?
tr -d '\r' <"$work/restore.log" | grep -v ' OK obnovené  do '
[ "$status" -eq 0 ] || exit "$status"

step "comparison of the restored copy with the source"
if diff -r "$work/source" "$work/restored$work/source" >/dev/null; then
  echo "restored files are identical to the source ($(find "$work/source" -type f | wc -l) files)"
else
  echo "restored files differ from the source" >&2
  exit 1
fi
echo
echo "set file: $set_file"
echo "logs:     $work/backup.log, $work/verify.log, $work/restore.log"
