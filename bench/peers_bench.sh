#!/usr/bin/env bash
# vaultix-cli beside its peers, in one run: every step of every round runs
# each program once, one after the other (interleaved, the starting program
# moving on by one each round), so that the machine's load falls on all of
# them alike.  Per corpus and output place it reports the median, minimum and
# maximum of wall time, CPU time (user + system of the program and its
# children) and peak resident memory (/usr/bin/time -v), and the ratio of
# each peer's median wall time to each vaultix-cli step's (above 1: vaultix-cli
# is faster).
#
# Steps and programs:
#   backup       vaultix-cli quick, max, quick encrypted | tar|gzip -1,
#                tar -I 'pigz -1', tar|gzip -9, dar gzip:1 (plain and
#                Blowfish), restic (fresh repository), borg zlib,1 (no
#                encryption and repokey)
#   restore      vaultix-cli (quick archive) | tar -xzf, tar -I pigz -x
#   verify       vaultix-cli (quick archive) | tar --compare, dar -d
#   incremental  after a change of BENCH_CHANGE_PERCENT % of the files:
#                vaultix-cli --mode incremental | tar --listed-incremental
#                (gzip -1), dar -A (gzip:1), restic, borg (zlib,1)
#
# Corpora: mixed (make_bench_data.py's mixed folder), tiny (many small text
# files), random (random bytes).  Output places: tmpfs and the disk holding
# the work folder.  The sources stay on the disk, their pages warmed first.
#
# usage: bench/peers_bench.sh [WORKDIR]   (default bench/data, git-ignored)
# Environment (defaults in brackets):
#   VAULTIX_CLI            the vaultix-cli to measure [release build, built when missing]
#   BENCH_ROUNDS           rounds per step [3]
#   BENCH_CORPORA          [mixed tiny random]
#   BENCH_PLACES           [tmpfs disk]
#   BENCH_MIXED_BYTES      [1073741824]
#   BENCH_TINY_FILES       [200000]
#   BENCH_TINY_SIZE        [2500]
#   BENCH_RANDOM_BYTES     [1073741824]
#   BENCH_STEPS            [backup restore verify incremental]
#   BENCH_BACKUP_CASES     the backup cases to run [all, see backup_cases]
#   BENCH_BACKUP_CASES_tiny, _mixed, _random
#                          the backup cases for that corpus only
#                          [BENCH_BACKUP_CASES]; a restore or verify case
#                          whose archive was not made is left out
#   VAULTIX_CLI_BEFORE     a second vaultix-cli, measured as vx-quick-before
#                          and vx-restore-before (restoring vx-quick's set)
#   BENCH_INCREMENTAL      corpora that get the incremental step [mixed]
#   BENCH_CHANGE_PERCENT   [1]
#   BENCH_TMPFS            tmpfs folder for outputs [/dev/shm/vaultix-bench]
#   BENCH_INSTALL=1        install the peers first (apt-get; needs root)
#   BENCH_PAUSE            seconds to wait after deleting a tree of many files
#                          on the disk [65]: for a minute after an inode was
#                          freed (longer while its table block is not yet
#                          written), ext4 without a journal passes it over, so
#                          every file created meanwhile searches past all that
#                          were just deleted.
#
# Each restore goes to a folder of its own; on the disk they are deleted
# together after the step, on tmpfs each right after its check.  Every measured run starts after a sync, so that no program pays
# for writing back what the one before it left in the page cache.
#
# A quick check of the harness: BENCH_ROUNDS=1 BENCH_MIXED_BYTES=20000000
# BENCH_TINY_FILES=2000 BENCH_RANDOM_BYTES=20000000 bench/peers_bench.sh
# The STEP_cases arrays are read through a name reference in the run below;
# the single-quoted bash -c scripts take their words as arguments; "zlib,1"
# is one word.
# shellcheck disable=SC2034,SC2016,SC2054
set -euo pipefail
. "$(dirname "$0")/set_file.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-$root/bench/data}" && cd "${1:-$root/bench/data}" && pwd)
cli=${VAULTIX_CLI:-$root/build/release/src/cli/vaultix-cli}
rounds=${BENCH_ROUNDS:-3}
corpora=${BENCH_CORPORA:-mixed tiny random}
places=${BENCH_PLACES:-tmpfs disk}
steps=${BENCH_STEPS:-backup restore verify incremental}
incremental=${BENCH_INCREMENTAL:-mixed}
change_percent=${BENCH_CHANGE_PERCENT:-1}
tmpfs=${BENCH_TMPFS:-/dev/shm/vaultix-bench}
pause=${BENCH_PAUSE:-65}
declare -A corpus_args=(
  [mixed]="${BENCH_MIXED_BYTES:-1073741824}"
  [tiny]="--kind tiny --files ${BENCH_TINY_FILES:-200000} --size ${BENCH_TINY_SIZE:-2500}"
  [random]="--kind random ${BENCH_RANDOM_BYTES:-1073741824}"
)

if [ "${BENCH_INSTALL:-0}" = 1 ]; then
  # The peers are for this bench only; CI does not install them.
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    time pigz dar restic borgbackup
fi
for tool in /usr/bin/time tar gzip pigz dar restic borg python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool (BENCH_INSTALL=1 installs the peers)" >&2; exit 1; }
done
if [ ! -x "$cli" ]; then
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)") >&2
fi

export RESTIC_PASSWORD=bench-password BORG_PASSPHRASE=bench-password
export BORG_UNKNOWN_UNENCRYPTED_REPO_ACCESS_IS_OK=yes BORG_RELOCATED_REPO_ACCESS_IS_OK=yes
export BORG_CHECK_I_KNOW_WHAT_I_AM_DOING=YES
password=$work/password
echo bench-password >"$password"
chmod 600 "$password"
raw=$work/results.tsv
: >"$raw"
log=$work/bench.log
: >"$log"

machine() {
  echo "- $(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)), $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) memory, kernel $(uname -r)"
  echo "- disk: $(df -T "$work" | awk 'NR == 2 { print $1 " (" $2 ")" }'); tmpfs: $tmpfs"
  echo "- load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
}
machine >"$work/machine.md"

# make_corpus NAME: generates (once per size and generator) and warms it.
make_corpus() {
  local name=$1 src=$work/source-$1 stamp=$work/source-$1.stamp
  local want
  want="${corpus_args[$1]} $(sha1sum <"$root/bench/make_bench_data.py")"
  if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    rm -rf "$src" "$stamp"
    echo "generating $name in $src ..." >&2
    # shellcheck disable=SC2086  # the arguments are words
    python3 "$root/bench/make_bench_data.py" "$src" ${corpus_args[$1]} >&2
    echo "$want" >"$stamp"
  fi
  warm "$src"
}

warm() { tar -cf - -C "$(dirname "$1")" "$(basename "$1")" | cat >/dev/null; }
# drop_tree PATH...: deletes and, when a path was on the disk (the outputs
# of the disk place, the incremental step's copy of the source), waits until
# ext4 takes the freed inodes again (see BENCH_PAUSE).
drop_tree() {
  rm -rf "${@:?}"
  sync
  local p
  for p in "$@"; do
    case $p in "$work"/*) sleep "$pause"; return ;; esac
  done
}

# measure CORPUS PLACE STEP CASE ROUND command...: runs one case and appends
# a line to the raw results.
measure() {
  local corpus=$1 place=$2 step=$3 name=$4 round=$5
  shift 5
  local report=$out/time.txt rc=0
  /usr/bin/time -v -o "$report" "$@" >>"$log" 2>&1 || rc=$?
  local wall user sys rss
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$report" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
  user=$(sed -n 's/.*User time (seconds): //p' "$report")
  sys=$(sed -n 's/.*System time (seconds): //p' "$report")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$report")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$corpus" "$place" "$step" "$name" "$round" \
    "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$rss" "$rc" >>"$raw"
  printf '  %-8s %-6s %-11s %-16s round %s: %6.2f s%s\n' "$corpus" "$place" "$step" "$name" "$round" \
    "$wall" "$([ "$rc" = 0 ] || echo "  FAILED (exit $rc, see $log)")" >&2
}

# interleaved STEP ROUND CASE...: runs the cases of one step, starting with a
# different one each round.
interleaved() {
  local step=$1 round=$2
  shift 2
  local cases=("$@") n=$# i
  for ((i = 0; i < n; i++)); do
    local c=${cases[$(((i + round) % n))]}
    prepare_"$step" "$c"
    cmd_"$step" "$c"
    # Some peers read with the page cache advised away (borg does): every
    # case starts with the source's pages warm again.
    warm "$hot"
    sync
    measure "$corpus" "$place" "$step" "$c" "$round" "${cmd[@]}"
    finish_"$step" "$c"
  done
}

# The cmd_STEP CASE functions put the command of one case into cmd.
cmd=()
vx() { cmd=("$cli" "$1" --quiet --no-log --set "$out/vx.set" "${@:2}"); }
vx1() { vx "$@"; cmd=(env VAULTIX_BACKUP_THREADS=1 "${cmd[@]}"); }
vxb() { vx "$@"; cmd[0]=$VAULTIX_CLI_BEFORE; }

# --- backup -------------------------------------------------------------
# The -1t cases run vaultix-cli on the one-thread path; the -before cases run
# VAULTIX_CLI_BEFORE (another build, e.g. of the main branch) when it is set.
# (read -d '': every line of the list, not only the first)
read -r -d '' -a backup_cases <<<"${BENCH_BACKUP_CASES:-vx-quick vx-max vx-quick-enc vx-quick-1t vx-max-1t
  vx-quick-enc-1t tar-gzip1 tar-pigz1 tar-gzip9 dar-gzip1 dar-gzip1-bf restic borg-zlib1 borg-zlib1-key}" || true
if [ -n "${VAULTIX_CLI_BEFORE:-}" ] && [ -z "${BENCH_BACKUP_CASES:-}" ]; then
  backup_cases+=(vx-quick-before)
fi
prepare_backup() {
  rm -rf "${out:?}/$1"
  mkdir -p "$out/$1"
  case $1 in
    restic) restic -r "$out/$1/repo" init >>"$log" 2>&1 ;;
    borg-zlib1) borg init -e none "$out/$1/repo" >>"$log" 2>&1 ;;
    borg-zlib1-key) borg init -e repokey "$out/$1/repo" >>"$log" 2>&1 ;;
  esac
}
cmd_backup() {
  local d=$out/$1
  case $1 in
    vx-quick) vx backup --mode full --compress quick --destination "$d/" --archive a.arc ;;
    vx-max) vx backup --mode full --compress max --destination "$d/" --archive a.arc ;;
    vx-quick-enc) vx backup --mode full --compress quick --password-file "$password" --destination "$d/" --archive a.arc ;;
    vx-quick-1t) vx1 backup --mode full --compress quick --destination "$d/" --archive a.arc ;;
    vx-max-1t) vx1 backup --mode full --compress max --destination "$d/" --archive a.arc ;;
    vx-quick-enc-1t) vx1 backup --mode full --compress quick --password-file "$password" --destination "$d/" --archive a.arc ;;
    vx-quick-before) vxb backup --mode full --compress quick --destination "$d/" --archive a.arc ;;
    tar-gzip1) cmd=(bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | gzip -1 >"$3"' - "$parent" "$base" "$d/a.tgz") ;;
    tar-pigz1) cmd=(tar -I 'pigz -1' -cf "$d/a.tgz" -C "$parent" "$base") ;;
    tar-gzip9) cmd=(bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | gzip -9 >"$3"' - "$parent" "$base" "$d/a.tgz") ;;
    dar-gzip1) cmd=(dar -c "$d/a" -R "$src" -zgzip:1 -Q) ;;
    dar-gzip1-bf) cmd=(dar -c "$d/a" -R "$src" -zgzip:1 -K bf:bench-password -Q) ;;
    restic) cmd=(restic -r "$d/repo" --cache-dir "$d/cache" backup --quiet "$src") ;;
    borg-zlib1 | borg-zlib1-key) cmd=(borg create -C zlib,1 "$d/repo::a" "$src") ;;
  esac
}
finish_backup() { :; }

# --- restore ------------------------------------------------------------
restore_cases=(vx-restore tar-xzf tar-pigz-x)
[ -z "${VAULTIX_CLI_BEFORE:-}" ] || restore_cases+=(vx-restore-before)
restored=
prepare_restore() { restored=$out/restored/$1-$round; mkdir -p "$restored"; }
cmd_restore() {
  case $1 in
    vx-restore) vx restore --destination "$out/vx-quick/" --archive a.arc --all --restore-to "$restored" ;;
    vx-restore-before) vxb restore --destination "$out/vx-quick/" --archive a.arc --all --restore-to "$restored" ;;
    tar-xzf) cmd=(tar -xzf "$out/tar-gzip1/a.tgz" -C "$restored") ;;
    tar-pigz-x) cmd=(tar -I pigz -xf "$out/tar-pigz1/a.tgz" -C "$restored") ;;
  esac
}
finish_restore() {
  local copy=$restored$src
  [[ $1 == vx-restore* ]] || copy=$restored/$base
  if ! diff -rq "$src" "$copy" >>"$log" 2>&1; then
    echo "  $1: the restored copy DIFFERS from the source" >&2
    printf '%s\t%s\trestore\t%s\tcheck\t0\t0\t0\tdiffers\n' "$corpus" "$place" "$1" >>"$raw"
  fi
  # Copies on tmpfs take memory from the page cache: only those on the disk
  # wait for the end of the step.
  case $out in "$work"/*) ;; *) rm -rf "${restored:?}" ;; esac
}

# --- verify -------------------------------------------------------------
verify_cases=(vx-verify tar-compare dar-d)
prepare_verify() { :; }
cmd_verify() {
  case $1 in
    vx-verify) vx verify --destination "$out/vx-quick/" --archive a.arc ;;
    tar-compare) cmd=(tar --compare -zf "$out/tar-gzip1/a.tgz" -C "$parent") ;;
    dar-d) cmd=(dar -d "$out/dar-gzip1/a" -R "$src" -Q) ;;
  esac
}
finish_verify() { :; }

# --- incremental ----------------------------------------------------------
# Works on a copy of the corpus; every tool first takes a full backup of it
# (not measured), then each round changes the copy and every tool takes the
# next incremental backup on top of its previous one.
incremental_cases=(vx-incr tar-incr dar-incr restic-incr borg-incr)
prepare_incremental() { :; }
cmd_incremental() {
  local d=$out/incr
  case $1 in
    vx-incr) vx backup --mode "$vx_mode" --compress quick --destination "$d/vx/" --archive "a$level.arc" \
      --include "$isrc/*.* /S" ;;
    tar-incr) cmd=(bash -c 'set -o pipefail; tar --listed-incremental="$1" -cf - -C "$2" "$3" | gzip -1 >"$4"' -
      "$d/tar/snar" "$(dirname "$isrc")" "$(basename "$isrc")" "$d/tar/a$level.tgz") ;;
    dar-incr) if [ "$level" = 0 ]; then cmd=(dar -c "$d/dar/a0" -R "$isrc" -zgzip:1 -Q)
      else cmd=(dar -c "$d/dar/a$level" -A "$d/dar/a$((level - 1))" -R "$isrc" -zgzip:1 -Q); fi ;;
    restic-incr) cmd=(restic -r "$d/restic" --cache-dir "$d/restic-cache" backup --quiet "$isrc") ;;
    borg-incr) cmd=(borg create -C zlib,1 "$d/borg::a$level" "$isrc") ;;
  esac
}
finish_incremental() { :; }

incremental_step() {
  local d=$out/incr isrc=$work/incr-source-$corpus level vx_mode=full c
  rm -rf "${d:?}" "$isrc"
  mkdir -p "$d/vx" "$d/tar" "$d/dar"
  cp -a "$src" "$isrc"
  restic -r "$d/restic" init >>"$log" 2>&1
  borg init -e none "$d/borg" >>"$log" 2>&1
  warm "$isrc"
  local hot=$isrc
  level=0
  for c in "${incremental_cases[@]}"; do
    cmd_incremental "$c"
    "${cmd[@]}" >>"$log" 2>&1 || echo "  $c: the first full backup failed (see $log)" >&2
  done
  vx_mode=incremental
  for ((level = 1; level <= rounds; level++)); do
    python3 "$root/bench/make_bench_data.py" --change "$change_percent" --seed "$level" "$isrc" >>"$log"
    interleaved incremental "$level" "${incremental_cases[@]}"
  done
  drop_tree "${d:?}" "$isrc"
}

# --- the run --------------------------------------------------------------
# wanted_backup CASE: whether the backup case runs for this corpus.
wanted_backup() {
  local own=BENCH_BACKUP_CASES_$corpus
  [ -n "${!own:-}" ] || { [[ " ${backup_cases[*]} " == *" $1 "* ]]; return; }
  [[ " ${!own} " == *" $1 "* ]]
}
# archive_of CASE: the backup case whose archive a restore or verify case reads.
archive_of() {
  case $1 in
    vx-restore | vx-restore-before | vx-verify) echo vx-quick ;;
    tar-xzf | tar-compare) echo tar-gzip1 ;;
    tar-pigz-x) echo tar-pigz1 ;;
    dar-d) echo dar-gzip1 ;;
  esac
}
for corpus in $corpora; do
  make_corpus "$corpus"
  src=$work/source-$corpus
  hot=$src
  parent=$(dirname "$src")
  base=$(basename "$src")
  for place in $places; do
    case $place in
      tmpfs) out=$tmpfs/out ;;
      disk) out=$work/out ;;
      *) echo "unknown place $place" >&2; exit 64 ;;
    esac
    rm -rf "${out:?}"
    mkdir -p "$out"
    export VAULTIX_STATE_DIR=$out/state
    export BORG_BASE_DIR=$out/borg-home
    write_quick_set "$out/vx.set" "$src" "$out" a.arc
    for step in $steps; do
      [ "$step" != incremental ] || continue
      declare -n step_cases=${step}_cases
      local_cases=()
      for c in "${step_cases[@]}"; do
        if [ "$step" = backup ]; then
          wanted_backup "$c" && local_cases+=("$c")
        else
          wanted_backup "$(archive_of "$c")" && local_cases+=("$c")
        fi
      done
      for ((round = 1; round <= rounds; round++)); do
        interleaved "$step" "$round" "${local_cases[@]}"
      done
      [ "$step" != restore ] || drop_tree "$out/restored"
      unset -n step_cases
    done
    if [[ " $steps " == *" incremental "* && " $incremental " == *" $corpus "* ]]; then
      incremental_step
    fi
    drop_tree "${out:?}"
  done
done
rmdir "$tmpfs" 2>/dev/null || true

echo "- load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$work/machine.md"
python3 "$root/bench/bench_summary.py" "$raw" "$work/machine.md" | tee "$work/summary.md"
