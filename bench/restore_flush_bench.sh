#!/usr/bin/env bash
# The cost of flushing a restore to the disk: 20,000 files of 2.5 KB (20
# folders) restored to the disk by two builds, in interleaved rounds, with
# the page cache written back (`sync`) before each round.  Prints each
# round's wall, user and system seconds, then the medians, and, for the
# with BENCH_TRACE=1, how long each flush (`syncfs`) took.
#   VAULTIX_CLI_BEFORE, VAULTIX_CLI_AFTER   the two builds (required)
#   BENCH_WORK    work folder on the disk to measure (default /tmp/vx-flush-bench)
#   BENCH_ROUNDS  rounds (default 7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
before=${VAULTIX_CLI_BEFORE:?the build without the flush}
after=${VAULTIX_CLI_AFTER:?the build with the flush}
work=${BENCH_WORK:-/tmp/vx-flush-bench}
rounds=${BENCH_ROUNDS:-7}
# shellcheck source=bench/set_file.sh
source "$root/bench/set_file.sh"
export VAULTIX_STATE_DIR=$work/state
if [ ! -f "$work/archive/bench.arc" ]; then
  mkdir -p "$work/archive"
  python3 - "$work/src" <<'PY'
import os, random, sys
r = random.Random(1)
words = ["zaloha", "subor", "data", "riadok", "disk", "obnova", "kopia", "text"]
for d in range(20):
    os.makedirs(f"{sys.argv[1]}/d{d:02}", exist_ok=True)
    for f in range(1000):
        s = " ".join(r.choice(words) + str(r.randrange(1000)) for _ in range(400))[:2500]
        open(f"{sys.argv[1]}/d{d:02}/f{f:04}.txt", "w").write(s)
PY
  write_quick_set "$work/bench.set" "$work/src" "$work/archive" bench.arc
  "$after" backup --quiet --no-log --set "$work/bench.set"
fi
declare -A walls
for i in $(seq "$rounds"); do
  for which in before after; do
    bin=$before
    [ "$which" = after ] && bin=$after
    rm -rf "$work/out"
    sync
    # With BENCH_TRACE=1 the flush's own time is taken from the kernel's
    # side (strace stops the program only at syncfs, but slows it down).
    trace=()
    [ "${BENCH_TRACE:-0}" = 1 ] && trace=(strace --seccomp-bpf -f -e trace=syncfs -T -o "$work/strace")
    : >"$work/strace"
    /usr/bin/time -f "%e %U %S" -o "$work/time" "${trace[@]}" "$bin" restore --quiet --no-log \
      --set "$work/bench.set" --all --restore-to "$work/out"
    read -r wall user sys <"$work/time"
    flush=$( (grep -o "<[0-9.]*>" "$work/strace" || true) | tr -d "<>" | paste -sd+ | bc)
    echo "round $i $which: $wall s wall, $user s user, $sys s system, flush ${flush:-0} s"
    walls[$which]+="$wall "
    [ "$(find "$work/out" -type f | wc -l)" = 20000 ] || echo "round $i $which: WRONG FILE COUNT" >&2
  done
done
median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
b=$(median <<<"${walls[before]}")
a=$(median <<<"${walls[after]}")
echo "median wall: before $b s, after $a s, ratio $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')"
rm -rf "$work/out"
